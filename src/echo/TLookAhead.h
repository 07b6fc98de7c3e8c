#pragma once

#include "echo/TAxIcmp.h"
#include "platform/WinSock.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class TAxIcmpTask;

// The one-echo checks of a list of hosts, sent ahead of their turn.
//
// A check of a whole list shows one entry after another, each checked by
// one component with one echo. Done strictly in turn, every silent host
// costs a whole time-out. The look-ahead sends the echo requests of the
// entries after the current one early: in list order, at most one new
// request per millisecond, at most MaxInFlight runs at once, each with the
// options the component had when the look-ahead was made, as soon as the
// current entry has waited a millisecond for its answer. Its name lookups
// run on the socket library's lookup workers, never on the window thread.
//
// The look-ahead shows and stores nothing. When an entry's turn comes, the
// component checks it by its own rules: its resolver finds the answers that
// the look-ahead's lookups left behind (an answer cache handed to the
// component while the look-ahead lives, TAxIcmpTask::SetAhead; the rest of
// the process goes on asking the name service in use), and its echo takes
// over the request already sent to the address it resolved
// (TAxIcmp::TakeSentAhead).
// A request that cannot be matched is not used: the component sends its
// own, as without a look-ahead. An entry that names a port is probed ahead
// the same way, on the component's own port probes (TAxIcmp::Ports), so
// that a probe the component has taken over ends with it, whatever becomes
// of the look-ahead.
class TLookAhead : public QObject {
    Q_OBJECT
public:
    // Runs with a lookup or an echo outstanding, at most: a whole /24 fits,
    // so that a silent one costs about one time-out in all.
    static constexpr int MaxInFlight = 256;
    // Starts runs for Targets[First] onwards on behalf of Component, with its
    // present options, and offers them to its echoes.
    TLookAhead(TAxIcmpTask* Component, const QStringList& Targets, int First, QObject* Parent);
    ~TLookAhead() override;

    // The entry whose check begins now: it and the entries before it are
    // not started any more, and the component's next echo may take this
    // entry's request.
    void Reached(int Index);
    // Starts nothing more and drops every run not taken over; their
    // answers are ignored.
    void Stop();

    // Runs with a lookup or an echo outstanding.
    int InFlight() const { return FInFlight; }
    // Echo requests sent so far.
    int Sent() const { return FSent; }

protected:
    bool event(QEvent* e) override;

private:
    struct Run;
    class Answers;

    void Tick();
    void StartLookup();
    void StartEcho();
    void EchoEnded(int Index);
    void StartPortProbe(int Index);
    void LookupEnded(std::uintptr_t Handle, std::intptr_t LParam);
    std::optional<TSentAhead> Take(const TEchoTarget& Target);
    void Begin(Run& R);
    void End(Run& R);
    // True, and the moment noted, when a millisecond has passed since Last.
    static bool Due(std::chrono::steady_clock::time_point& Last);

    QPointer<TAxIcmpTask> FComponent;
    QStringList FTargets;
    std::vector<std::unique_ptr<Run>> FRuns;
    // Options in force when the look-ahead was made.
    TIpOptions FOptions;
    int FPacketSize = 0;
    std::uint16_t FTimeOut = 0;
    bool FResolve = false;
    int FNextLookup = 0;
    int FCurrent = -1;
    // The entry whose request the component's next echo may take.
    int FArmed = -1;
    // Entries whose address is known and whose echo has not gone out.
    std::set<int> FReady;
    std::map<platform::AsyncHandle, int> FLookups;
    int FInFlight = 0;
    int FSent = 0;
    bool FStopped = false;
    // The echo service may be had: plain entries are checked ahead.
    bool FIcmp = false;
    // Ticks every millisecond while there is anything to start; a tick that
    // comes late is followed by one that comes early, which waits.
    QTimer FPace;
    // When the current entry's check began: nothing is started ahead while
    // it is younger than a millisecond, so that a list of hosts that answer
    // at once is checked in turn without runs ahead to pay for.
    std::chrono::steady_clock::time_point FReachedAt;
    std::chrono::steady_clock::time_point FLastLookup;
    std::chrono::steady_clock::time_point FLastEcho;
    std::shared_ptr<Answers> FAnswers;
};

#pragma once

#include "paths/Address.h"
#include "paths/EchoSender.h"
#include "paths/MinuteSummary.h"
#include "paths/RouteTracker.h"
#include "paths/RttStats.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace paths {

// One node that answered at a hop, with its own figures.
struct ResponderFigures {
    Address address;
    QString name;               // empty until, and unless, its reverse lookup finds one
    std::uint64_t sent = 0;     // the hop's requests since this responder first answered
    std::uint64_t answered = 0; // its own answers
    double lossPercent = 0;     // of sent; at a load-balanced hop this includes the others' answers
    RttFigures rtt;
    std::vector<double> recentMs; // its last RttStats::RingSize round trips, oldest first
};

// One TTL of the path.
struct HopFigures {
    int ttl = 0;
    std::uint64_t sent = 0;
    std::uint64_t answered = 0;
    double lossPercent = 0; // over every round
    // Over the last PathWatch::RecentRounds rounds: every loss, and the
    // losses that the path shared (no later hop answered in that round).
    // Their difference is the hop's own loss: a router that limits its
    // answers but forwards the traffic.
    double recentLossPercent = 0;
    double forwardedLossPercent = 0;
    // Never answered: the hop is shown as such, without an address, rather
    // than as a loss of the path.
    bool silent = true;
    RttFigures rtt;                           // every answer at the hop
    std::vector<ResponderFigures> responders; // in the order they first answered
};

struct PathFigures {
    QString target;           // the target's address
    std::uint64_t rounds = 0; // rounds ended since the start or the last Reset
    int distance = 0;         // the TTL at which the target answers; 0 while unknown
    bool flapping = false;
    std::vector<HopFigures> hops; // TTL 1 first
};

// Watches the route to one address hop by hop.
//
// A round sends one echo request for each TTL from 1 to ProbedTtls() at
// once and ends when all of them have their outcome; the sender ends each
// request at the time-out at the latest. Until the target has answered,
// rounds probe every TTL up to the maximum (MaxTtl); once the target
// answers at TTL d, rounds probe 1..d and hops beyond d are dropped. When a
// later round finds a router at d instead of the target, the path has grown
// and rounds probe up to the maximum again; a target that answers at a
// lower TTL shortens the path there and then. An unreachable report ends
// the path like the target's answer does, at the reporting router.
//
// Rounds start every IntervalMs while running; they may overlap when the
// time-out is longer than the interval, and are counted in the order they
// started. Only answers count that the sender vouches for (a router's
// report quoting our own request, or the target's reply); a request that
// could not be sent at all (no resources, no route on this machine) counts
// as neither sent nor lost.
//
// Hops shown (Figures): up to the target once it answered; before that up
// to one beyond the last hop that ever answered, so that where the path
// ends shows as a hop without an answer.
//
// Responders' names are looked up in reverse, once per address, on workers
// of their own; a round never waits for them.
//
// Everything runs on the thread that owns the watch, and every signal is
// emitted there. Destroying the watch with requests or lookups in flight
// calls nothing of it afterwards. A receiver must not destroy the watch from
// within one of its signals (deleteLater does).
class PathWatch : public QObject {
    Q_OBJECT
public:
    using Target = platform::AsyncEcho::Target;

    static constexpr int DefaultMaxTtl = 30;
    static constexpr int MaxTtlLimit = 64;
    static constexpr int DefaultTimeoutMs = 1000;
    static constexpr int MinTimeoutMs = 50;
    static constexpr int MaxTimeoutMs = 60000;
    static constexpr int DefaultIntervalMs = 1000;
    static constexpr int MinIntervalMs = 200;
    static constexpr int MaxIntervalMs = 60000;
    static constexpr std::size_t RecentRounds = 100;
    static constexpr std::uint16_t DataSize = 56;

    // Sends through an echo engine of its own.
    explicit PathWatch(const Target& target, QObject* parent = nullptr);
    // Sends through a sender that others may share.
    PathWatch(const Target& target, std::shared_ptr<EchoSender> sender, QObject* parent = nullptr);
    ~PathWatch() override;
    PathWatch(const PathWatch&) = delete;
    PathWatch& operator=(const PathWatch&) = delete;

    const Target& WatchedTarget() const { return FTarget; }

    // Settings, each clamped to its range; they apply from the next round.
    void SetMaxTtl(int ttl); // 1..MaxTtlLimit
    int MaxTtl() const { return FMaxTtl; }
    void SetTimeoutMs(int ms); // MinTimeoutMs..MaxTimeoutMs
    int TimeoutMs() const { return FTimeoutMs; }
    void SetIntervalMs(int ms); // MinIntervalMs..MaxIntervalMs
    int IntervalMs() const { return FIntervalMs; }
    void SetChangeRounds(int rounds); // 1 and up
    int ChangeRounds() const { return FTracker.ChangeRounds(); }
    void SetResolveNames(bool on) { FResolveNames = on; }
    // The wall clock (ms since the epoch) that stamps rounds, minutes and
    // route changes; the system's by default.
    void SetWallClockForTests(std::function<qint64()> clock);

    // Starts a round now and one every interval from then on.
    void Start();
    // Starts no more rounds; those in flight still count.
    void Pause();
    void Resume() { Start(); }
    bool Running() const { return FTimer.isActive(); }
    // Forgets every figure, the route and the distance; rounds in flight no
    // longer count. The minute so far is closed first (MinuteClosed), so a
    // store may see a minute in two parts and adds them up.
    void Reset();
    // One round now, whether running or not.
    void RunRound();

    int ProbedTtls() const { return FDistance > 0 ? FDistance : FMaxTtl; }
    int RoundsInFlight() const { return static_cast<int>(FRounds.size()); }
    int Distance() const { return FDistance; }
    PathFigures Figures() const;
    const Route& StableRoute() const { return FTracker.Stable(); }
    bool Flapping() const { return FTracker.Flapping(); }
    // The name found for an address; empty when none (yet).
    QString NameOf(const Address& address) const;
    // Emits the minute so far now rather than with the first round of the
    // next minute (nothing when it is empty).
    void CloseMinute();

signals:
    void RoundEnded();
    void RouteChanged(const paths::RouteChange& change);
    void NameResolved(const paths::Address& address, const QString& name);
    // The records of one minute: each hop's own, then its responders'.
    void MinuteClosed(const QList<paths::MinuteSummary>& minute);

private:
    enum class Kind { Waiting, NotSent, Lost, Transit, Terminal };
    struct Result {
        Kind kind = Kind::Waiting;
        Address from;
        double rttMs = 0;
    };
    struct Round {
        std::uint64_t serial = 0;
        qint64 startedMs = 0;
        int pending = 0;
        std::vector<Result> results; // by TTL - 1
    };
    struct Responder {
        Address address;
        std::uint64_t sent = 0;
        std::uint64_t answered = 0;
        RttStats rtt;
    };
    // One round at a hop, in the ring of recent rounds.
    enum class Mark : std::uint8_t { Answered, Lost, ForwardedLost };
    struct Hop {
        std::uint64_t sent = 0;
        std::uint64_t answered = 0;
        RttStats rtt;
        std::vector<Responder> responders;
        std::array<Mark, RecentRounds> marks{};
        std::size_t markCount = 0;
        std::size_t markNext = 0;
    };
    struct Alive;

    void Outcome(std::uint64_t serial, int ttl, const EchoSender::Outcome& outcome);
    void EndRounds();
    void Count(const Round& round);
    void AddToMinute(qint64 startedMs, int ttl, const Address& responder, bool answered,
                     double rttMs, std::optional<double> previousMs, bool forwardedLost);
    void LookUp(const Address& address);
    void NameFound(const Address& address, const QString& name);
    int ShownHops() const;

    Target FTarget;
    Address FTargetAddress;
    std::shared_ptr<EchoSender> FSender;
    std::shared_ptr<Alive> FAlive;
    QTimer FTimer;
    std::function<qint64()> FWallClock;
    int FMaxTtl = DefaultMaxTtl;
    int FTimeoutMs = DefaultTimeoutMs;
    int FIntervalMs = DefaultIntervalMs;
    bool FResolveNames = true;

    std::deque<Round> FRounds; // in flight, oldest first
    std::uint64_t FNextSerial = 1;
    std::uint64_t FRoundsEnded = 0;
    int FDistance = 0;
    std::vector<Hop> FHops; // by TTL - 1
    RouteTracker FTracker;

    qint64 FMinuteStart = 0;
    std::map<std::pair<int, Address>, MinuteSummary> FMinute; // by TTL and responder

    std::unordered_map<Address, QString, AddressHash> FNames;
    std::unordered_set<Address, AddressHash> FLookups; // in flight
};

} // namespace paths

Q_DECLARE_METATYPE(paths::Address)

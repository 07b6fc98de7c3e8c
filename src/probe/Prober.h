#pragma once

#include "alerts/HostStates.h"
#include "paths/EchoSender.h"
#include "paths/PathWatch.h"
#include "platform/AsyncEcho.h"
#include "platform/IcmpTypes.h"
#include "platform/PortProbes.h"
#include "probe/PathSeries.h"
#include "probe/ProbeConfig.h"
#include "probe/ProbeMetrics.h"

#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <queue>
#include <unordered_map>
#include <vector>

namespace probe {

// Sends echo requests to every host on a steady schedule of its own and
// keeps the counters of each. The hosts' start times are spread evenly over
// one interval; a host's requests then follow each other at exactly one
// interval, however late one of them went out. A target "tcp://host:port"
// or "udp://host:port" is probed on its port instead (platform::PortProbes,
// its series labelled with probe and port), never twice at once: its turn
// is skipped while its last probe is out. Requests go out on the
// engine's event-loop path (platform::AsyncEcho: one socket per family or
// the echo broker, no thread per request); where it has no route at all
// they run on the engine's workers, which then report why. Names are looked
// up on a small pool of their own, again every few minutes and soon after a
// request failed.
//
// Paths are watched hop by hop, each by a paths::PathWatch of its own on
// the same echo engine, a round every path interval. A path's name is
// looked up like a host's: while it has no address, again every round
// interval, each failure counted; once it has one, every few minutes, the
// last address kept while lookups fail. A new address starts a new watch,
// whose series start from zero.
class Prober : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;

    explicit Prober(const ProbeConfig& config, QObject* parent = nullptr);
    ~Prober() override;

    // Starts (or, when running, replaces) the host list. Hosts that stay
    // keep their counters and their place in the schedule; new ones are
    // spread over the next interval.
    void SetHosts(const QStringList& hosts);
    // Starts (or, when running, replaces) the watched paths, each with its
    // settings over the config's defaults (so SetConfig first). Paths that
    // stay keep their watch and counters and take new settings from their
    // next round.
    void SetPaths(const std::vector<PathTarget>& paths);
    // Takes new settings for the requests and labels (a reload).
    void SetConfig(const ProbeConfig& config);
    const ProbeConfig& Config() const { return FConfig; }
    // Sends nothing more; requests in flight still count when they end.
    void Stop();
    // Requests sent whose outcome is not in yet.
    int InFlight() const { return FInFlight; }

    QByteArray Metrics(bool openMetrics) const;
    // A writer of the metrics as they are now, for a scrape that is
    // written out while probing goes on.
    MetricsWriter Writer(bool openMetrics) const;
    ProbeFigures& Figures() { return FFigures; }

    // For tests and the benchmark.
    struct HostView {
        QString host;
        QString ip;
        HostStats stats;
    };
    std::vector<HostView> Hosts() const;
    struct PathView {
        QString host;
        QString ip;
        int ipVersion = 0;
        PathStats stats;
    };
    std::vector<PathView> Paths() const;
    // Paths send through this sender instead of the prober's echo engine.
    // Call before SetPaths.
    void SetPathSenderForTests(std::shared_ptr<paths::EchoSender> sender);
    // The clock that times when a path's responders were last seen.
    void SetClockForTests(std::function<Clock::time_point()> clock);
    // How long a responder stays shown after its last answer.
    void SetResponderExpiryForTests(Clock::duration expiry) { FResponderExpiry = expiry; }
    // The watch of a path; null while it has none.
    paths::PathWatch* PathWatchForTests(const QString& host) const;
    std::uint64_t LateRequests() const { return FFigures.lateRequests; }
    // The largest delay of a request behind its time so far.
    Clock::duration WorstDelay() const { return FWorstDelay; }

private:
    struct Host;
    struct Request;
    struct Path;

    void Arm();
    void Tick();
    void Probe(Host& h, Clock::time_point now);
    void StartLookup(Host& h, Clock::time_point now);
    void LookupEnded(std::uint64_t id, int error, int family, const QByteArray& address);
    void ProbePort(Host& h, std::uint16_t timeout);
    void EchoEnded(const std::shared_ptr<Request>& r);
    // Hands a request's outcome to the state machine: the round-trip time
    // in milliseconds, -1 for no answer, nothing for a request that could
    // not be made (no address).
    void Judge(Host& h, std::optional<int> echoMs);
    void Ended(std::uint64_t hostId, const QByteArray& address, int status,
               Clock::duration roundTrip, int ttl);
    // Looks name up on the lookup pool; done runs on this thread, and only
    // while the prober exists.
    void Resolve(const QString& name,
                 std::function<void(int error, int family, const QByteArray& address)> done);
    void PathTick();
    void StartPathLookup(Path& p, Clock::time_point now);
    void PathLookupEnded(std::uint64_t id, int error, int family, const QByteArray& address);
    void Watch(Path& p);
    PathView ViewOf(const Path& p, Clock::time_point now) const;

    ProbeConfig FConfig;
    std::unordered_map<std::uint64_t, std::unique_ptr<Host>> FHosts;
    std::vector<std::uint64_t> FOrder; // hosts in list order
    std::uint64_t FNextId = 1;
    using Due = std::pair<Clock::time_point, std::uint64_t>;
    std::priority_queue<Due, std::vector<Due>, std::greater<>> FQueue;
    QTimer FTimer;
    QThreadPool FLookups;
    platform::AsyncEcho FEcho;
    platform::PortProbes FPorts;
    // After the engine, so that the watches, which send through it, go first.
    std::shared_ptr<paths::EchoSender> FPathSender;
    std::vector<std::unique_ptr<Path>> FPaths; // in list order
    QTimer FPathTimer;
    std::function<Clock::time_point()> FClock;
    Clock::duration FResponderExpiry = PathSeries::ResponderExpiry;
    alerts::THostStates FStates;
    ProbeFigures FFigures;
    Clock::duration FWorstDelay{};
    int FInFlight = 0;
    // Lets workers that end after the prober know that it is gone.
    std::shared_ptr<Prober*> FAlive;
};

} // namespace probe

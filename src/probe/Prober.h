#pragma once

#include "alerts/HostStates.h"
#include "platform/AsyncEcho.h"
#include "platform/IcmpTypes.h"
#include "probe/ProbeConfig.h"
#include "probe/ProbeMetrics.h"

#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <queue>
#include <unordered_map>
#include <vector>

namespace probe {

// Sends echo requests to every host on a steady schedule of its own and
// keeps the counters of each. The hosts' start times are spread evenly over
// one interval; a host's requests then follow each other at exactly one
// interval, however late one of them went out. Requests go out on the
// engine's event-loop path (platform::AsyncEcho: one socket per family or
// the echo broker, no thread per request); where it has no route at all
// they run on the engine's workers, which then report why. Names are looked
// up on a small pool of their own, again every few minutes and soon after a
// request failed.
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
    std::uint64_t LateRequests() const { return FFigures.lateRequests; }
    // The largest delay of a request behind its time so far.
    Clock::duration WorstDelay() const { return FWorstDelay; }

private:
    struct Host;
    struct Request;

    void Arm();
    void Tick();
    void Probe(Host& h, Clock::time_point now);
    void StartLookup(Host& h, Clock::time_point now);
    void LookupEnded(std::uint64_t id, int error, int family, const QByteArray& address);
    void EchoEnded(const std::shared_ptr<Request>& r);
    // Hands a request's outcome to the state machine: the round-trip time
    // in milliseconds, -1 for no answer, nothing for a request that could
    // not be made (no address).
    void Judge(Host& h, std::optional<int> echoMs);
    void Ended(std::uint64_t hostId, const QByteArray& address, int status,
               Clock::duration roundTrip, int ttl);

    ProbeConfig FConfig;
    std::unordered_map<std::uint64_t, std::unique_ptr<Host>> FHosts;
    std::vector<std::uint64_t> FOrder; // hosts in list order
    std::uint64_t FNextId = 1;
    using Due = std::pair<Clock::time_point, std::uint64_t>;
    std::priority_queue<Due, std::vector<Due>, std::greater<>> FQueue;
    QTimer FTimer;
    QThreadPool FLookups;
    platform::AsyncEcho FEcho;
    alerts::THostStates FStates;
    ProbeFigures FFigures;
    Clock::duration FWorstDelay{};
    int FInFlight = 0;
    // Lets workers that end after the prober know that it is gone.
    std::shared_ptr<Prober*> FAlive;
};

} // namespace probe

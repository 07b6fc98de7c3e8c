#include "paths/PortEchoSender.h"

#include "platform/IcmpTypes.h"

#include <algorithm>
#include <utility>

namespace paths {

PortEchoSender::PortEchoSender(platform::ProbeKind kind, std::uint16_t port)
    : FKind(kind), FPort(port), FProbes(std::make_unique<platform::PortProbes>()) {}

// The probes go first: none of their completions may find the paths gone.
PortEchoSender::~PortEchoSender() {
    FProbes.reset();
}

bool PortEchoSender::MayReach(const Path& path, int ttl) {
    const int below = std::max(path.transit, path.distance > 0 ? path.distance - 1 : 0);
    return ttl > below;
}

void PortEchoSender::Send(const Target& target, const Options& options, Done done) {
    const Key key{target.family, target.address};
    Path& path = FPaths[key];
    if (!path.timer) {
        path.timer = std::make_unique<QTimer>();
        path.timer->setSingleShot(true);
        path.timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(path.timer.get(), &QTimer::timeout, [this, key] { Pump(key); });
    }
    Waiting w{target, options, std::move(done),
              Clock::now() + std::chrono::milliseconds(options.timeoutMs)};
    // Waiting probes stay in TTL order; a later round's come after the
    // earlier round's of the same TTL.
    auto at = std::upper_bound(
        path.waiting.begin(), path.waiting.end(), options.ttl,
        [](std::uint8_t ttl, const Waiting& other) { return ttl < other.options.ttl; });
    path.waiting.insert(at, std::move(w));
    Pump(key);
}

void PortEchoSender::Pump(const Key& key) {
    Path& path = FPaths[key];
    while (!path.waiting.empty()) {
        const auto now = Clock::now();
        Waiting& first = path.waiting.front();
        // Beyond the target's distance a probe could only meet the target
        // again: it is not sent (the watch counts it neither sent nor lost).
        const bool beyond = path.distance > 0 && first.options.ttl > path.distance;
        if (now >= first.deadline || beyond) {
            Waiting w = std::move(first);
            path.waiting.pop_front();
            Outcome o;
            o.status = beyond ? IcmpStatus::GeneralFailure : IcmpStatus::ReqTimedOut;
            o.sent = now;
            o.received = now;
            w.done(o);
            continue;
        }
        const bool reaching = MayReach(path, first.options.ttl);
        if (reaching && path.reachingInFlight > 0) {
            const auto step = std::chrono::microseconds(
                std::max<std::uint64_t>(StepMs * 1000ull, 3 * path.longestUs));
            const auto next = std::min(path.lastReaching + step, first.deadline);
            if (now < next) {
                path.timer->start(static_cast<int>(
                    std::chrono::ceil<std::chrono::milliseconds>(next - now).count()));
                return;
            }
        }
        Waiting w = std::move(first);
        path.waiting.pop_front();
        Go(key, std::move(w), reaching);
    }
}

void PortEchoSender::Go(const Key& key, Waiting w, bool reaching) {
    Path& path = FPaths[key];
    const auto now = Clock::now();
    if (reaching) {
        ++path.reachingInFlight;
        path.lastReaching = now;
        FMostReaching = std::max(FMostReaching, path.reachingInFlight);
    }
    platform::PortProbes::Target t;
    t.family = w.target.family;
    t.address = w.target.address;
    t.scopeId = w.target.scopeId;
    t.kind = FKind;
    t.port = FPort;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(w.deadline - now);
    const platform::PortProbes::Options options{
        w.options.ttl, static_cast<std::uint32_t>(std::max<std::int64_t>(1, left.count()))};
    const int ttl = w.options.ttl;
    ++FSent;
    auto shared = std::make_shared<Waiting>(std::move(w));
    FProbes->Send(t, options,
                  [this, key, ttl, reaching, shared](const platform::PortProbes::Outcome& o) {
                      Ended(key, ttl, reaching, *shared, o);
                  });
}

void PortEchoSender::Ended(const Key& key, int ttl, bool reaching, const Waiting& w,
                           const platform::PortProbes::Outcome& o) {
    Path& path = FPaths[key];
    if (reaching)
        --path.reachingInFlight;
    const bool fromTarget = o.from == w.target.address;
    if (o.status == IcmpStatus::Success && fromTarget) {
        path.distance = path.distance == 0 ? ttl : std::min(path.distance, ttl);
        path.longestUs = std::max(path.longestUs, o.roundTripUs);
    } else if (o.status == IcmpStatus::TtlExpiredTransit ||
               o.status == IcmpStatus::TtlExpiredReassem) {
        path.transit = std::max(path.transit, ttl);
        path.longestUs = std::max(path.longestUs, o.roundTripUs);
    }
    Outcome outcome;
    outcome.status = o.status;
    outcome.from = o.from;
    outcome.sent = o.sent;
    outcome.received = o.received;
    const Done done = w.done;
    done(outcome);
    // The completion may have sent more; the path is still in the map.
    Pump(key);
}

} // namespace paths

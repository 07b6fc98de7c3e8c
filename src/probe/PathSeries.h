#pragma once

#include "paths/Address.h"
#include "paths/PathWatch.h"
#include "paths/RouteTracker.h"
#include "probe/ProbeMetrics.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

// The figures of one watched path as the prober serves them: counters that
// only grow, however the watch's own view of the path grows and shrinks.
namespace probe {

// Follows one PathWatch round by round. The watch forgets the hops beyond
// the target when the path gets shorter and starts them from zero when it
// grows again; the series here add up what each round added instead, so
// the counters never go back. A round adds at most one answer per hop: its
// round trip is the hop's last one, which goes into the histogram.
class PathSeries {
public:
    using Clock = std::chrono::steady_clock;
    // A responder not seen for this long is no longer shown.
    static constexpr Clock::duration ResponderExpiry = std::chrono::minutes(10);

    // Takes the watch's figures after a round ended; forgets responders
    // that the watch no longer lists once they were not seen for expiry.
    void RoundEnded(const paths::PathFigures& figures, Clock::time_point now,
                    Clock::duration expiry = ResponderExpiry);
    void RouteChanged(const paths::RouteChange& change);
    // Responders last seen more than expiry before now are left out.
    PathStats Stats(Clock::time_point now, Clock::duration expiry = ResponderExpiry) const;
    std::uint64_t Changes() const { return FChanges; }

private:
    struct Hop {
        HopStats stats;
        std::uint64_t seenSent = 0; // the watch's figures after the last round
        std::uint64_t seenAnswered = 0;
    };
    struct Responder {
        QString name;
        Clock::time_point lastSeen;
        std::uint64_t seenAnswered = 0;
    };

    std::vector<Hop> FHops; // by TTL - 1, kept when the watch drops hops
    int FShown = 0;
    int FDistance = 0;
    std::uint64_t FChanges = 0;
    std::map<std::pair<int, paths::Address>, Responder> FResponders;
};

} // namespace probe

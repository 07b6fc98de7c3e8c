#include "probe/PathSeries.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace probe {

namespace {

constexpr double MsPerSecond = 1000;
constexpr double Percent = 100;

// What a count of the watch added since it was last seen: the watch starts
// a hop it dropped from zero, so a count below the last one is all new.
std::uint64_t added(std::uint64_t now, std::uint64_t& seen) {
    const std::uint64_t delta = now >= seen ? now - seen : now;
    seen = now;
    return delta;
}

} // namespace

void PathSeries::RoundEnded(const paths::PathFigures& figures, Clock::time_point now,
                            Clock::duration expiry) {
    const auto& bounds = PathRttBucketBounds();
    FDistance = figures.distance;
    FShown = static_cast<int>(figures.hops.size());
    std::set<std::pair<int, paths::Address>> listed;
    if (FHops.size() < figures.hops.size())
        FHops.resize(figures.hops.size());
    for (std::size_t k = 0; k < figures.hops.size(); ++k) {
        const paths::HopFigures& f = figures.hops[k];
        Hop& hop = FHops[k];
        hop.stats.ttl = f.ttl;
        hop.stats.requests += added(f.sent, hop.seenSent);
        const std::uint64_t answers = added(f.answered, hop.seenAnswered);
        hop.stats.answers += answers;
        if (answers > 0) {
            // More than one only when the hop was hidden for a while; their
            // round trips are gone, so the last one stands for them all and
            // the histogram still counts every answer.
            const double seconds = f.rtt.lastMs / MsPerSecond;
            std::size_t b = 0;
            while (b < bounds.size() && seconds > bounds[b])
                ++b;
            hop.stats.rttBuckets[b] += answers;
            hop.stats.rttSum += seconds * static_cast<double>(answers);
        }
        hop.stats.forwardedLoss = f.forwardedLossPercent / Percent;
        hop.stats.jitter = f.rtt.jitterMs / MsPerSecond;
        for (const paths::ResponderFigures& r : f.responders) {
            listed.insert({f.ttl, r.address});
            auto [it, fresh] = FResponders.try_emplace({f.ttl, r.address});
            Responder& seen = it->second;
            seen.name = r.name;
            if (r.answered != seen.seenAnswered || fresh) {
                seen.seenAnswered = r.answered;
                seen.lastSeen = now;
            }
        }
    }
    // One the watch still lists stays, hidden, so that its old answers do not
    // make it look new; one the watch forgot goes once it is hidden.
    std::erase_if(FResponders, [&](const auto& entry) {
        return now - entry.second.lastSeen > expiry && listed.count(entry.first) == 0;
    });
}

void PathSeries::RouteChanged(const paths::RouteChange& change) {
    // A flap begins with a move back to the route before; while it lasts the
    // watch reports no further moves, and its end is no move at all.
    if (change.kind != paths::RouteChange::Kind::FlappingEnded)
        ++FChanges;
}

PathStats PathSeries::Stats(Clock::time_point now, Clock::duration expiry) const {
    PathStats s;
    s.changes = FChanges;
    s.hops = FDistance;
    for (int k = 0; k < FShown; ++k)
        s.hopStats.push_back(FHops[static_cast<std::size_t>(k)].stats);
    for (const auto& [key, responder] : FResponders)
        if (now - responder.lastSeen <= expiry)
            s.responders.push_back({key.first, key.second.ToString(), responder.name});
    return s;
}

} // namespace probe

#include "paths/RouteTracker.h"

#include <algorithm>
#include <utility>

namespace paths {

namespace {

void DropTrailingSilence(Route& route) {
    while (!route.empty() && route.back().empty())
        route.pop_back();
}

// Fills the hops that route does not know yet from round.
void Learn(Route& route, const Route& round) {
    if (route.size() < round.size())
        route.resize(round.size());
    for (std::size_t i = 0; i < round.size(); ++i)
        if (route[i].empty())
            route[i] = round[i];
}

} // namespace

bool RouteTracker::Matches(const Route& a, const Route& b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (a[i].empty() || b[i].empty())
            continue;
        const bool shared = std::any_of(a[i].begin(), a[i].end(), [&](const Address& x) {
            return std::find(b[i].begin(), b[i].end(), x) != b[i].end();
        });
        if (!shared)
            return false;
    }
    return true;
}

std::optional<RouteChange> RouteTracker::Feed(Route round, qint64 timeMs) {
    ++FRound;
    DropTrailingSilence(round);
    if (Matches(round, FStable)) {
        // Silent where the two differ: it neither confirms the new route
        // nor shows the old one back.
        if (FCandidateRounds > 0 && Matches(round, FCandidate))
            return std::nullopt;
        Learn(FStable, round);
        FCandidate.clear();
        FCandidateRounds = 0;
        if (FFlapping && ++FSettledRounds >= SettleRounds) {
            FFlapping = false;
            return RouteChange{RouteChange::Kind::FlappingEnded, timeMs, FPrevious, FStable};
        }
        return std::nullopt;
    }
    FSettledRounds = 0;
    if (FCandidateRounds > 0 && Matches(round, FCandidate)) {
        Learn(FCandidate, round);
        ++FCandidateRounds;
    } else {
        FCandidate = std::move(round);
        FCandidateRounds = 1;
    }
    if (FCandidateRounds < FChangeRounds)
        return std::nullopt;

    const bool back = FHavePrevious && Matches(FCandidate, FPrevious) &&
                      FRound - FLastChangeRound <= FlapWindowRounds;
    RouteChange change{RouteChange::Kind::Changed, timeMs, FStable, FCandidate};
    if (back)
        Learn(FCandidate, FPrevious);
    FPrevious = std::exchange(FStable, std::move(FCandidate));
    FHavePrevious = true;
    FCandidate.clear();
    FCandidateRounds = 0;
    FLastChangeRound = FRound;
    if (FFlapping && back)
        return std::nullopt;
    if (!FFlapping && back) {
        FFlapping = true;
        change.kind = RouteChange::Kind::FlappingBegan;
        change.after = FStable;
        return change;
    }
    FFlapping = false;
    return change;
}

void RouteTracker::Reset() {
    const int rounds = FChangeRounds;
    *this = RouteTracker();
    FChangeRounds = rounds;
}

} // namespace paths

#pragma once

#include "paths/Address.h"

#include <QMetaType>
#include <cstdint>
#include <optional>

namespace paths {

// A change of the route, as the watch signals it and a store may keep it.
struct RouteChange {
    enum class Kind {
        Changed,       // the route moved from before to after
        FlappingBegan, // it went back to the route it had just left (before ↔ after)
        FlappingEnded, // it stayed on after for RouteTracker::SettleRounds rounds
    };
    Kind kind = Kind::Changed;
    qint64 timeMs = 0; // wall clock, ms since the epoch: the start of the deciding round
    Route before;
    Route after;
};

// Follows the route round by round and decides when it changed.
//
// A round's route differs from the stable one when at some TTL both have a
// responder and the round's is not among the stable one's; a TTL where
// either has nobody matches anything, so a hop that did not answer in a
// round is no change. Rounds that match fill in the stable route's unknown
// hops; a round that matches both the stable route and the one it may be
// changing to (silent where they differ) decides nothing. After ChangeRounds consecutive rounds
// that differ from the stable route and match each other, their route becomes the stable one: a
// change.
//
// Going back to the route left by the last change, within FlapWindowRounds
// rounds of that change, is flapping: one FlappingBegan, then no event while
// the route keeps switching between the two, one FlappingEnded once it
// stays on one of them for SettleRounds rounds. A change to a third route
// ends the flapping with a plain Changed.
class RouteTracker {
public:
    static constexpr int DefaultChangeRounds = 2;
    static constexpr std::uint64_t FlapWindowRounds = 30;
    static constexpr std::uint64_t SettleRounds = 30;

    void SetChangeRounds(int rounds) { FChangeRounds = rounds < 1 ? 1 : rounds; }
    int ChangeRounds() const { return FChangeRounds; }

    // Takes one round's route (trailing TTLs without an answer are dropped);
    // returns the event it completes, if any.
    std::optional<RouteChange> Feed(Route round, qint64 timeMs);
    const Route& Stable() const { return FStable; }
    bool Flapping() const { return FFlapping; }
    void Reset();

    // Whether two routes agree at every TTL where both have a responder.
    static bool Matches(const Route& a, const Route& b);

private:
    int FChangeRounds = DefaultChangeRounds;
    Route FStable;
    Route FCandidate;
    int FCandidateRounds = 0;
    Route FPrevious; // the stable route before the last change
    bool FHavePrevious = false;
    std::uint64_t FRound = 0;
    std::uint64_t FLastChangeRound = 0;
    bool FFlapping = false;
    std::uint64_t FSettledRounds = 0;
};

} // namespace paths

Q_DECLARE_METATYPE(paths::RouteChange)

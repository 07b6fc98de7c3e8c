#pragma once

#include "paths/EchoSender.h"
#include "platform/PortProbes.h"
#include "platform/ProbeEntry.h"

#include <QTimer>
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>

namespace paths {

// A path watch's requests as TCP or UDP probes of one port
// (platform::PortProbes): routers answer them as they answer echo requests,
// and the target's handshake, reset, reply or port unreachable counts as
// its answer (Success from the target).
//
// At most one probe that may reach the target is in flight per target. A
// probe cannot reach it when its TTL is below the target's distance (the
// lowest TTL at which the target answered) or not above a TTL at which a
// router answered (the probe passed every hop before it). The others wait
// for their turn, lowest TTL first: the next goes when the one before has
// ended, or once it has been out for three times the longest round trip of
// the path (at least StepMs), when it is taken to be lost. A waiting probe
// whose time-out passes ends ReqTimedOut without being sent, and one whose
// TTL is beyond the target's distance ends GeneralFailure unsent (the watch
// counts it neither sent nor lost). So a round costs the target one
// connection attempt once its distance is known, and every request still
// ends by its time-out.
class PortEchoSender : public EchoSender {
public:
    static constexpr int StepMs = 50;

    PortEchoSender(platform::ProbeKind kind, std::uint16_t port);
    ~PortEchoSender() override;
    void Send(const Target& target, const Options& options, Done done) override;

    // Probes sent to the network so far (the waiting ones that ended unsent
    // not counted); the most that were in flight at once that could reach
    // their target.
    std::uint64_t Sent() const { return FSent; }
    int MostReachingInFlight() const { return FMostReaching; }

private:
    using Clock = platform::PortProbes::Clock;
    using Key = std::pair<int, std::array<std::uint8_t, 16>>;
    struct Waiting {
        Target target;
        Options options;
        Done done;
        Clock::time_point deadline;
    };
    struct Path {
        int transit = 0;  // the highest TTL a router answered at
        int distance = 0; // the lowest TTL the target answered at; 0 unknown
        std::uint64_t longestUs = 0;
        int reachingInFlight = 0;
        Clock::time_point lastReaching;
        std::deque<Waiting> waiting;
        std::unique_ptr<QTimer> timer;
    };

    void Pump(const Key& key);
    void Go(const Key& key, Waiting w, bool reaching);
    void Ended(const Key& key, int ttl, bool reaching, const Waiting& w,
               const platform::PortProbes::Outcome& outcome);
    static bool MayReach(const Path& path, int ttl);

    platform::ProbeKind FKind;
    std::uint16_t FPort;
    std::map<Key, Path> FPaths;
    std::unique_ptr<platform::PortProbes> FProbes;
    std::uint64_t FSent = 0;
    int FMostReaching = 0;
};

} // namespace paths

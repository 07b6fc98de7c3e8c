#pragma once

#include "paths/EchoSender.h"

#include <chrono>
#include <utility>
#include <vector>

namespace netsonde::test {

// An echo sender that keeps every request until the test ends it with an
// outcome of its choosing: no socket, no clock, no waiting.
class FakeEchoSender : public paths::EchoSender {
public:
    struct Request {
        Target target;
        Options options;
        Done done;
    };

    void Send(const Target& target, const Options& options, Done done) override {
        waiting.push_back({target, options, std::move(done)});
        ++sent;
    }

    // Ends every waiting request: end(ttl, outcome) fills the outcome of the
    // request with that TTL (sent/received are set from its rttMs result).
    template <class End> void EndAll(End end) {
        std::vector<Request> now = std::exchange(waiting, {});
        for (Request& r : now) {
            Outcome outcome;
            const double rttMs = end(r.options.ttl, outcome);
            outcome.sent = Clock::time_point(std::chrono::seconds(1000));
            outcome.received = outcome.sent + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double, std::milli>(rttMs));
            r.done(outcome);
        }
    }

    using Clock = platform::AsyncEcho::Clock;
    std::vector<Request> waiting;
    int sent = 0;
};

} // namespace netsonde::test

#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace platform {

// A few threads that run blocking jobs (name lookups) in the order they were
// handed in. Threads start as jobs arrive, at most `maxWorkers` of them, and
// then wait for more work; jobs beyond that wait in line. Handing in a job
// costs no thread start once the workers exist.
class LookupWorkers {
public:
    explicit LookupWorkers(int maxWorkers);
    // Stops as Stop does, waiting for running jobs no longer than
    // `waitAtEnd` (given to SetWaitAtEnd; none by default).
    ~LookupWorkers();
    LookupWorkers(const LookupWorkers&) = delete;
    LookupWorkers& operator=(const LookupWorkers&) = delete;

    // Queues a job; false once stopped (the job is dropped).
    bool Submit(std::function<void()> job);
    // Jobs queued or running.
    int Pending() const;
    // Threads that exist now.
    int Workers() const;
    // Waits until no job is queued or running; false when timeout passed.
    bool WaitIdle(std::chrono::milliseconds timeout) const;
    // Takes no more jobs, drops the queued ones and waits until the running
    // ones end, at most `wait`. A job still running then goes on to its end
    // on its own thread, whose state outlives this object; true when every
    // thread had ended.
    bool Stop(std::chrono::milliseconds wait);
    void SetWaitAtEnd(std::chrono::milliseconds wait) { FWaitAtEnd = wait; }

private:
    struct State;
    static void Work(const std::shared_ptr<State>& state);

    std::shared_ptr<State> FState;
    std::chrono::milliseconds FWaitAtEnd{0};
};

} // namespace platform

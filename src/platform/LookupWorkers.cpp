#include "platform/LookupWorkers.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace platform {

struct LookupWorkers::State {
    explicit State(int max) : maxWorkers(max < 1 ? 1 : max) {}
    const int maxWorkers;
    mutable std::mutex m;
    std::condition_variable work;         // a job was queued, or stopping
    mutable std::condition_variable done; // a job or a thread ended
    std::deque<std::function<void()>> queue;
    int workers = 0; // threads alive
    int idle = 0;    // threads waiting for a job
    int running = 0; // jobs being run
    bool stopping = false;
};

LookupWorkers::LookupWorkers(int maxWorkers) : FState(std::make_shared<State>(maxWorkers)) {}

LookupWorkers::~LookupWorkers() {
    Stop(FWaitAtEnd);
}

bool LookupWorkers::Submit(std::function<void()> job) {
    State& s = *FState;
    bool startWorker = false;
    {
        std::lock_guard lock(s.m);
        if (s.stopping)
            return false;
        s.queue.push_back(std::move(job));
        // A new thread only when no idle one will take the job.
        if (s.idle < static_cast<int>(s.queue.size()) && s.workers < s.maxWorkers) {
            ++s.workers;
            startWorker = true;
        }
    }
    if (startWorker) {
        try {
            std::thread(Work, FState).detach();
        } catch (...) {
            // The job waits for a thread that exists; with none, it is
            // handed back as not taken.
            std::lock_guard lock(s.m);
            --s.workers;
            if (s.workers == 0) {
                s.queue.pop_back();
                s.done.notify_all();
                return false;
            }
        }
    }
    s.work.notify_one();
    return true;
}

void LookupWorkers::Work(const std::shared_ptr<State>& state) {
    State& s = *state;
    std::unique_lock lock(s.m);
    for (;;) {
        ++s.idle;
        s.work.wait(lock, [&] { return s.stopping || !s.queue.empty(); });
        --s.idle;
        if (s.stopping)
            break;
        std::function<void()> job = std::move(s.queue.front());
        s.queue.pop_front();
        ++s.running;
        lock.unlock();
        job();
        job = nullptr; // whatever the job holds goes before it counts as done
        lock.lock();
        --s.running;
        s.done.notify_all();
    }
    --s.workers;
    s.done.notify_all();
}

int LookupWorkers::Pending() const {
    std::lock_guard lock(FState->m);
    return static_cast<int>(FState->queue.size()) + FState->running;
}

int LookupWorkers::Workers() const {
    std::lock_guard lock(FState->m);
    return FState->workers;
}

bool LookupWorkers::WaitIdle(std::chrono::milliseconds timeout) const {
    State& s = *FState;
    std::unique_lock lock(s.m);
    return s.done.wait_for(lock, timeout, [&] { return s.queue.empty() && s.running == 0; });
}

bool LookupWorkers::Stop(std::chrono::milliseconds wait) {
    State& s = *FState;
    std::deque<std::function<void()>> dropped;
    std::unique_lock lock(s.m);
    s.stopping = true;
    dropped.swap(s.queue);
    s.work.notify_all();
    const bool ended = s.done.wait_for(lock, wait, [&] { return s.workers == 0; });
    lock.unlock();
    dropped.clear();
    return ended;
}

} // namespace platform

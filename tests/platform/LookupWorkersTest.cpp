#include "platform/LookupWorkers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using platform::LookupWorkers;
using namespace std::chrono_literals;

namespace {

// Jobs that wait at a gate until the test opens it.
struct Gate {
    std::mutex m;
    std::condition_variable changed;
    bool open = false;
    int waiting = 0;
    void Pass() {
        std::unique_lock lock(m);
        ++waiting;
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
        --waiting;
    }
    bool WaitForWaiting(int count) {
        std::unique_lock lock(m);
        return changed.wait_for(lock, 10s, [&] { return waiting >= count; });
    }
    void Open() {
        std::lock_guard lock(m);
        open = true;
        changed.notify_all();
    }
};

TEST(LookupWorkers, AFewThreadsRunEveryJobInTheOrderGiven) {
    LookupWorkers pool(3);
    auto gate = std::make_shared<Gate>();
    std::mutex m;
    std::vector<int> started;
    std::atomic<int> atOnce{0}, mostAtOnce{0};
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(pool.Submit([&, gate, i] {
            {
                std::lock_guard lock(m);
                started.push_back(i);
            }
            const int now = ++atOnce;
            int most = mostAtOnce.load();
            while (now > most && !mostAtOnce.compare_exchange_weak(most, now)) {
            }
            gate->Pass();
            --atOnce;
        }));
    }
    ASSERT_TRUE(gate->WaitForWaiting(3));
    EXPECT_EQ(pool.Workers(), 3);
    EXPECT_EQ(pool.Pending(), 40);
    gate->Open();
    ASSERT_TRUE(pool.WaitIdle(10s));
    EXPECT_EQ(pool.Pending(), 0);
    EXPECT_EQ(mostAtOnce.load(), 3);
    EXPECT_LE(pool.Workers(), 3) << "idle threads wait for more work";
    EXPECT_EQ(started.size(), 40u);
    // Later jobs reuse the threads.
    std::atomic<int> ran{0};
    for (int i = 0; i < 10; ++i)
        pool.Submit([&] { ++ran; });
    ASSERT_TRUE(pool.WaitIdle(10s));
    EXPECT_EQ(ran.load(), 10);
    EXPECT_LE(pool.Workers(), 3);

    // One worker runs them strictly in the order given.
    LookupWorkers one(1);
    std::vector<int> order;
    for (int i = 0; i < 20; ++i)
        one.Submit([&order, i] { order.push_back(i); });
    ASSERT_TRUE(one.WaitIdle(10s));
    std::vector<int> expected;
    for (int i = 0; i < 20; ++i)
        expected.push_back(i);
    EXPECT_EQ(order, expected);
}

TEST(LookupWorkers, StoppingDropsQueuedJobsAndWaitsForAHungOneOnlyAsLongAsAllowed) {
    auto hung = std::make_shared<Gate>();
    auto ended = std::make_shared<Gate>(); // passed by the hung job at its end
    auto ranLate = std::make_shared<std::atomic<int>>(0);
    {
        LookupWorkers pool(1);
        pool.SetWaitAtEnd(100ms);
        pool.Submit([hung, ended] {
            hung->Pass();
            std::lock_guard lock(ended->m);
            ++ended->waiting;
            ended->changed.notify_all();
        });
        for (int i = 0; i < 5; ++i)
            pool.Submit([ranLate] { ++*ranLate; });
        ASSERT_TRUE(hung->WaitForWaiting(1));
        // The pool ends here with its job hanging, after waiting 100 ms.
    }
    // The hung job goes on to its end on its own thread after the pool is
    // gone, touching nothing of it that was freed.
    hung->Open();
    EXPECT_TRUE(ended->WaitForWaiting(1));
    EXPECT_EQ(ranLate->load(), 0) << "queued jobs were dropped";

    LookupWorkers stopped(2);
    auto gate = std::make_shared<Gate>();
    stopped.Submit([gate] { gate->Pass(); });
    ASSERT_TRUE(gate->WaitForWaiting(1));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(stopped.Stop(200ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(stopped.Submit([] {})) << "no job is taken after stopping";
    gate->Open();
    EXPECT_TRUE(stopped.Stop(10s));
    EXPECT_EQ(stopped.Workers(), 0);
}

} // namespace

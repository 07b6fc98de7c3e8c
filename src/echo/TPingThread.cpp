#include "echo/TPingThread.h"

#include "echo/EchoCodes.h"
#include "echo/IcmpBinding.h"
#include "platform/WindowThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A finished worker parks for the next request; beyond this many parked
// workers, or after this long without a request, it ends.
constexpr int kMaxParked = 4;
constexpr auto kParkedLife = 5s;
// A parked thread first watches for a request this long before it sleeps:
// the next echo of a run comes within microseconds, and a sleeping core
// takes longer than that to wake (much longer in a virtual machine).
constexpr auto kSpin = 60us;

// All thread objects share one mutex and two conditions: completions, detach
// and shutdown are rare events, and one lock keeps their order simple. The
// registry is never destroyed, so that a worker parked when the program ends
// never waits on a condition that is gone.
std::atomic<bool> keepFinished{true};

struct Registry {
    std::mutex mutex;
    std::condition_variable changed;                 // completion, detach, shutdown, a worker ended
    std::condition_variable work;                    // parked workers wait here for a request
    int liveRequests = 0;                            // started and not yet ended
    int threads = 0;                                 // operating-system threads of the pool
    int parked = 0;                                  // threads waiting for a request
    std::deque<std::shared_ptr<TPingThread>> queued; // each one promised to a parked thread
    std::atomic<int> queuedCount{0};                 // queued.size(), read while spinning
    bool shuttingDown = false;
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

// Results of a series that may wait for their completions before its
// worker waits for the window thread: enough to ride out a slow completion,
// few enough that the requests keep the completions' pace.
constexpr std::size_t kMaxAhead = 8;

} // namespace

TEchoReply SummaryOf(const TEcho6Reply& Reply6) {
    TEchoReply reply;
    reply.Address = 0;
    reply.Status = Reply6.Status;
    reply.RoundTripTime = Reply6.RoundTripTime;
    reply.DataSize = Reply6.DataSize;
    reply.Options = Reply6.Options;
    return reply;
}

std::shared_ptr<TPingThread> TPingThread::Create(int& Status, const TIpOptions& Options,
                                                 std::uint32_t Address, int PacketSize,
                                                 std::uint16_t TimeOut, TEchoReply& Reply) {
    std::shared_ptr<TPingThread> t = Make(Status, Options, PacketSize, TimeOut, Reply, false);
    t->FAddress = Address;
    return t;
}

std::shared_ptr<TPingThread> TPingThread::Create6(int& Status, const TIpOptions& Options,
                                                  const TIpv6Address& Address, int PacketSize,
                                                  std::uint16_t TimeOut, TEchoReply& Reply,
                                                  TEcho6Reply& Reply6) {
    std::shared_ptr<TPingThread> t = Make(Status, Options, PacketSize, TimeOut, Reply, true);
    t->FAddress6 = Address;
    t->FReply6Dest = &Reply6;
    return t;
}

std::shared_ptr<TPingThread> TPingThread::Make(int& Status, const TIpOptions& Options,
                                               int PacketSize, std::uint16_t TimeOut,
                                               TEchoReply& Reply, bool Ipv6) {
    // The binding waits for every worker before its last release frees the
    // library; workers exist from here on.
    static const bool gated =
        (IcmpSetWorkerGate(&TPingThread::WaitForAll, &TPingThread::AllowNew), true);
    (void)gated;
    platform::AttachWindowThread();
    std::shared_ptr<TPingThread> t(new TPingThread);
    t->FStatusDest = &Status;
    t->FReplyDest = &Reply;
    t->FIpv6 = Ipv6;
    t->FPacketSize = PacketSize;
    t->FOptions = Options;
    t->FTimeOut = TimeOut;
    t->FHandle = Ipv6 ? Icmp6CreateFile() : IcmpCreateFile();
    if (t->FHandle == InvalidIcmpHandle) {
        Status = ErrNoHandle;
        t->FTerminated = true;
    }
    return t;
}

TPingThread::~TPingThread() = default;

void TPingThread::Start() {
    Registry& reg = registry();
    std::lock_guard lock(reg.mutex);
    if (FStarted)
        return;
    FStarted = true;
    ++reg.liveRequests;
    // A parked thread that nobody has claimed takes the request; otherwise a
    // new thread starts, so that no request waits for another one's worker.
    int available = reg.parked;
    if (available > static_cast<int>(reg.queued.size())) {
        reg.queued.push_back(shared_from_this());
        reg.queuedCount.store(static_cast<int>(reg.queued.size()));
        reg.work.notify_one();
        return;
    }
    ++reg.threads;
    std::thread(&TPingThread::WorkerLoop, shared_from_this()).detach();
}

void TPingThread::WorkerLoop(std::shared_ptr<TPingThread> first) {
    Registry& reg = registry();
    std::shared_ptr<TPingThread> request = std::move(first);
    for (;;) {
        Execute(std::move(request));
        std::unique_lock lock(reg.mutex);
        // A request promised to this thread while its completion ran.
        if (!reg.queued.empty()) {
            request = std::move(reg.queued.front());
            reg.queued.pop_front();
            reg.queuedCount.store(static_cast<int>(reg.queued.size()));
            continue;
        }
        if (!reg.shuttingDown && reg.parked < kMaxParked && keepFinished.load()) {
            ++reg.parked;
            lock.unlock();
            auto spinEnd = std::chrono::steady_clock::now() + kSpin;
            while (reg.queuedCount.load() == 0 && std::chrono::steady_clock::now() < spinEnd)
                std::this_thread::yield();
            lock.lock();
            reg.work.wait_for(lock, kParkedLife,
                              [&] { return !reg.queued.empty() || reg.shuttingDown; });
            --reg.parked;
            if (!reg.queued.empty()) {
                request = std::move(reg.queued.front());
                reg.queued.pop_front();
                reg.queuedCount.store(static_cast<int>(reg.queued.size()));
                continue;
            }
        }
        --reg.threads;
        reg.changed.notify_all();
        return;
    }
}

void TPingThread::Detach() {
    Registry& reg = registry();
    std::lock_guard lock(reg.mutex);
    FDetached = true;
    FStatusDest = nullptr;
    FReplyDest = nullptr;
    FReply6Dest = nullptr;
    OnTerminate = nullptr;
    FResults.clear();
    reg.changed.notify_all();
}

void TPingThread::StopSeries() {
    Registry& reg = registry();
    std::lock_guard lock(reg.mutex);
    FStopSeries = true;
    reg.changed.notify_all();
}

bool TPingThread::SeriesPending() const {
    std::lock_guard lock(registry().mutex);
    return FSeries > 1 && FDelivered < FSeries && !FDetached && !FStopSeries;
}

void TPingThread::Retarget(int& Status, TEchoReply& Reply, TEcho6Reply* Reply6) {
    std::lock_guard lock(registry().mutex);
    if (FDetached)
        return;
    FStatusDest = &Status;
    FReplyDest = &Reply;
    FReply6Dest = FIpv6 ? Reply6 : nullptr;
}

TPingThread::Result TPingThread::RunOnce() {
    Result r;
    if (FTerminated) {
        r.result = ErrNoHandle;
    } else if (FIpv6) {
        r.result = Echo6Request(FHandle, FOptions, r.reply6, FAddress6, FPacketSize, FTimeOut);
        if (r.result == 0) {
            r.gotReply = true;
            r.reply = SummaryOf(r.reply6);
        }
    } else {
        r.result = EchoRequest(FHandle, FOptions, r.reply, FAddress, FPacketSize, FTimeOut);
        r.gotReply = r.result == 0;
    }
    return r;
}

void TPingThread::Execute(std::shared_ptr<TPingThread> self) {
    Registry& reg = registry();
    for (int i = 0; i < self->FSeries; ++i) {
        Result r = self->RunOnce();
        bool post = false;
        {
            std::lock_guard lock(reg.mutex);
            if (reg.shuttingDown || self->FDetached)
                break;
            // One posted completion runs every result that waits: a
            // result that finds others waiting needs no post of its own.
            post = self->FResults.empty();
            self->FResults.push_back(r);
        }
        if (post && !platform::PostToWindowThread(
                        [self, posted = self->FEnded.load()] { self->Complete(posted); }))
            break;
        if (i + 1 == self->FSeries)
            break;
        std::unique_lock lock(reg.mutex);
        reg.changed.wait(lock, [&] {
            return self->FResults.size() < kMaxAhead || self->FDetached || self->FStopSeries ||
                   reg.shuttingDown;
        });
        if (self->FDetached || self->FStopSeries || reg.shuttingDown)
            break;
    }

    IcmpCloseHandle(self->FHandle);
    self->FHandle = InvalidIcmpHandle;
    std::lock_guard lock(reg.mutex);
    --reg.liveRequests;
    reg.changed.notify_all();
}

void TPingThread::Complete(int Posted) {
    // A completion that processes messages may meet the post of the next
    // result: that one then waits until this completion has returned.
    if (FCompleting)
        return;
    // A post made before the last completion returned may stand before what
    // that completion posted (a deletion of the creator, a click): it goes
    // to the back of the queue, so that the next result comes after them,
    // as when each echo was sent only after the last one's completion.
    if (Posted != FEnded.load()) {
        platform::PostToWindowThread(
            [keep = shared_from_this(), ended = FEnded.load()] { keep->Complete(ended); });
        return;
    }
    Registry& reg = registry();
    Result r;
    {
        std::lock_guard lock(reg.mutex);
        if (FDetached || FResults.empty())
            return;
        r = FResults.front();
        FResults.pop_front();
        reg.changed.notify_all();
    }
    // The creator may let go of this thread inside OnTerminate.
    const std::shared_ptr<TPingThread> keep = shared_from_this();
    FCompleting = true;
    ++FDelivered;
    // Detach() runs on this thread too, so nothing can change the
    // destinations between the check above and their use below.
    if (FStatusDest != nullptr)
        *FStatusDest = r.result;
    if (r.gotReply && FReplyDest != nullptr)
        *FReplyDest = r.reply;
    if (r.gotReply && FReply6Dest != nullptr)
        *FReply6Dest = r.reply6;
    std::function<void()> handler = OnTerminate;
    if (handler)
        handler();
    FCompleting = false;
    ++FEnded;
    // One result per event, as when each echo was posted on its own: what
    // the completion posted (a deletion, a click) comes before the next.
    bool more = false;
    {
        std::lock_guard lock(reg.mutex);
        more = !FDetached && !FResults.empty();
    }
    if (more)
        platform::PostToWindowThread([keep, ended = FEnded.load()] { keep->Complete(ended); });
}

void TPingThread::WaitForAll() {
    Registry& reg = registry();
    std::unique_lock lock(reg.mutex);
    reg.shuttingDown = true;
    reg.changed.notify_all();
    reg.work.notify_all();
    reg.changed.wait(lock, [&] { return reg.liveRequests == 0 && reg.threads == 0; });
}

void TPingThread::AllowNew() {
    Registry& reg = registry();
    std::lock_guard lock(reg.mutex);
    reg.shuttingDown = false;
}

int TPingThread::LiveCount() {
    Registry& reg = registry();
    std::lock_guard lock(reg.mutex);
    return reg.liveRequests;
}

int TPingThread::PoolThreads() {
    Registry& reg = registry();
    std::lock_guard lock(reg.mutex);
    return reg.threads;
}

int TPingThread::ParkedThreads() {
    Registry& reg = registry();
    std::lock_guard lock(reg.mutex);
    return reg.parked;
}

void TPingThread::KeepFinishedThreads(bool keep) {
    keepFinished.store(keep);
}

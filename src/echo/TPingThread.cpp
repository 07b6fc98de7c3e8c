#include "echo/TPingThread.h"

#include "echo/IcmpBinding.h"
#include "echo/TAxIcmp.h"
#include "platform/WindowThread.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// All thread objects share one mutex and one condition: completions, detach
// and shutdown are rare events, and one lock keeps their order simple.
std::mutex registryMutex;
std::condition_variable registryChanged;
int liveWorkers = 0;
bool shuttingDown = false;

// Marks the completion as done when the last copy of the queued call is
// destroyed: after it ran, or when the event queue discarded it unrun.
struct CompletionToken {
    std::shared_ptr<TPingThread> thread;
    std::function<void()> done;
    ~CompletionToken() { done(); }
};

} // namespace

std::shared_ptr<TPingThread> TPingThread::Create(int& Status, const TIpOptions& Options,
                                                 std::uint32_t Address, int PacketSize,
                                                 std::uint16_t TimeOut, TEchoReply& Reply) {
    platform::AttachWindowThread();
    std::shared_ptr<TPingThread> t(new TPingThread);
    t->FStatusDest = &Status;
    t->FReplyDest = &Reply;
    t->FAddress = Address;
    t->FPacketSize = PacketSize;
    t->FOptions = Options;
    t->FTimeOut = TimeOut;
    t->FHandle = IcmpCreateFile();
    if (t->FHandle == InvalidIcmpHandle) {
        Status = ErrNoHandle;
        t->FResult = ErrNoHandle;
        t->FTerminated = true;
    }
    return t;
}

TPingThread::~TPingThread() = default;

void TPingThread::Start() {
    {
        std::lock_guard lock(registryMutex);
        if (FStarted)
            return;
        FStarted = true;
        ++liveWorkers;
    }
    std::thread(&TPingThread::Execute, shared_from_this()).detach();
}

void TPingThread::Detach() {
    std::lock_guard lock(registryMutex);
    FDetached = true;
    FStatusDest = nullptr;
    FReplyDest = nullptr;
    OnTerminate = nullptr;
    registryChanged.notify_all();
}

void TPingThread::Execute(std::shared_ptr<TPingThread> self) {
    if (!self->FTerminated) {
        TEchoReply reply;
        self->FResult = EchoRequest(self->FHandle, self->FOptions, reply, self->FAddress,
                                    self->FPacketSize, self->FTimeOut);
        if (self->FResult == 0) {
            self->FGotReply = true;
            self->FReplyCopy = reply;
        }
    }

    // The token must never be released while registryMutex is held: its
    // destructor takes that lock.
    bool mayPost = false;
    {
        std::lock_guard lock(registryMutex);
        mayPost = !shuttingDown && !self->FDetached;
    }
    bool posted = false;
    if (mayPost) {
        auto token = std::make_shared<CompletionToken>();
        token->thread = self;
        token->done = [t = self.get()] {
            std::lock_guard inner(registryMutex);
            t->FCompleted = true;
            registryChanged.notify_all();
        };
        posted = platform::PostToWindowThread([token] { token->thread->Complete(); });
    }
    if (posted) {
        std::unique_lock lock(registryMutex);
        registryChanged.wait(lock,
                             [&] { return self->FCompleted || self->FDetached || shuttingDown; });
        if (!self->FCompleted)
            self->FAbandoned = true;
    }

    IcmpCloseHandle(self->FHandle);
    self->FHandle = InvalidIcmpHandle;
    std::lock_guard lock(registryMutex);
    --liveWorkers;
    registryChanged.notify_all();
}

void TPingThread::Complete() {
    {
        std::lock_guard lock(registryMutex);
        if (FDetached || FAbandoned)
            return;
    }
    // Detach() runs on this thread too, so nothing can change the
    // destinations between the check above and their use below.
    if (FStatusDest != nullptr)
        *FStatusDest = FResult;
    if (FGotReply && FReplyDest != nullptr)
        *FReplyDest = FReplyCopy;
    std::function<void()> handler = OnTerminate;
    if (handler)
        handler();
}

void TPingThread::WaitForAll() {
    std::unique_lock lock(registryMutex);
    shuttingDown = true;
    registryChanged.notify_all();
    registryChanged.wait(lock, [] { return liveWorkers == 0; });
}

void TPingThread::AllowNew() {
    std::lock_guard lock(registryMutex);
    shuttingDown = false;
}

int TPingThread::LiveCount() {
    std::lock_guard lock(registryMutex);
    return liveWorkers;
}

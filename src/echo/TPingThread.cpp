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
// Completions still queued when the service is released belong to an
// earlier generation and are dropped.
unsigned generation = 0;

} // namespace

std::shared_ptr<TPingThread> TPingThread::Create(int& Status, const TIpOptions& Options,
                                                 std::uint32_t Address, int PacketSize,
                                                 std::uint16_t TimeOut, TEchoReply& Reply) {
    platform::AttachWindowThread();
    std::shared_ptr<TPingThread> t(new TPingThread);
    {
        std::lock_guard lock(registryMutex);
        t->FGeneration = generation;
    }
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

    // The handle has served its request; the result goes to the window
    // thread, and the worker ends without waiting for it to be handled.
    IcmpCloseHandle(self->FHandle);
    self->FHandle = InvalidIcmpHandle;
    bool mayPost = false;
    {
        std::lock_guard lock(registryMutex);
        mayPost = !shuttingDown && !self->FDetached;
    }
    if (mayPost)
        platform::PostToWindowThread([self] { self->Complete(); });
    std::lock_guard lock(registryMutex);
    --liveWorkers;
    registryChanged.notify_all();
}

void TPingThread::Complete() {
    {
        std::lock_guard lock(registryMutex);
        if (FDetached || FGeneration != generation)
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
    ++generation;
}

void TPingThread::AllowNew() {
    std::lock_guard lock(registryMutex);
    shuttingDown = false;
}

int TPingThread::LiveCount() {
    std::lock_guard lock(registryMutex);
    return liveWorkers;
}

#pragma once

#include "platform/IcmpTypes.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

// An IPv6 reply as the IPv4 record tells it: status, times, size and
// options; the address stays in the IPv6 record (Address 0 here).
TEchoReply SummaryOf(const TEcho6Reply& Reply6);

// One echo request, or a series of them, on a worker thread of its own.
//
// The thread is created suspended on the window thread with copies of the
// request and references to the creator's status and reply. The worker
// performs the blocking request into its own copies and posts the result to
// the window thread without waiting for it; there the completion writes the
// status (and the reply, when one came) into the creator and then calls
// OnTerminate. The worker is free for the next request as soon as it has
// posted.
//
// A series (SetSeries before Start) is Count requests with the same
// parameters, each sent as soon as the one before has ended, on one handle:
// a run of echoes costs no hand-over between threads per echo. Their
// completions run one after the other in the order of the requests, never
// one inside another (a completion that processes messages does not run
// the next), and the worker keeps at most a few results ahead of them.
//
// The operating-system thread under a worker is pooled: once its request has
// ended it parks and takes the next request instead of ending; a few parked
// threads stay for some seconds. A request never waits for another request's
// thread: without a free parked thread a new one starts.
//
// Detach() cuts the thread off from its creator (the creator is being
// destroyed, or needs no more results): completions not yet run write
// nothing and call nothing, and a series ends after its current request.
class TPingThread : public std::enable_shared_from_this<TPingThread> {
public:
    static std::shared_ptr<TPingThread> Create(int& Status, const TIpOptions& Options,
                                               std::uint32_t Address, int PacketSize,
                                               std::uint16_t TimeOut, TEchoReply& Reply);
    // The same for an IPv6 destination. The completion writes the IPv6 reply
    // into Reply6 and its status, times, size and options also into Reply.
    static std::shared_ptr<TPingThread> Create6(int& Status, const TIpOptions& Options,
                                                const TIpv6Address& Address, int PacketSize,
                                                std::uint16_t TimeOut, TEchoReply& Reply,
                                                TEcho6Reply& Reply6);
    ~TPingThread();

    // Runs on the window thread when the request has completed.
    std::function<void()> OnTerminate;

    // Makes the request a series of Count requests (at least 1). Call
    // before Start.
    void SetSeries(int Count) { FSeries = Count < 1 ? 1 : Count; }
    // A series with completions still to come, not detached. Window thread.
    bool SeriesPending() const;
    // A series sends no request after the one in flight, whose completion
    // still runs (a cancelled run reports its last echo).
    void StopSeries();
    // Starts the worker. Call once, after OnTerminate is in place.
    void Start();
    void Detach();
    // Hands a request that has not completed yet to another creator: its
    // completion writes there instead. Window thread only, like the
    // completion itself; the caller sets OnTerminate anew. An IPv6 request
    // writes its IPv6 reply to Reply6 (none if it is null).
    void Retarget(int& Status, TEchoReply& Reply, TEcho6Reply* Reply6 = nullptr);
    // The thread was created without a service handle and sends nothing.
    bool Terminated() const { return FTerminated; }

    // Waits until every worker of the process has ended; workers still
    // waiting for their completion give it up. Used when the echo service is
    // released at program end, after its waiting requests were woken.
    static void WaitForAll();
    // Lets workers be started again after WaitForAll.
    static void AllowNew();
    // Number of workers that have not ended yet.
    static int LiveCount();
    // Operating-system threads of the pool, parked ones included.
    static int PoolThreads();
    // Pool threads waiting for a request.
    static int ParkedThreads();
    // With false a thread ends with its request (one thread per request);
    // the benchmarks compare both ways.
    static void KeepFinishedThreads(bool keep);

private:
    TPingThread() = default;
    static std::shared_ptr<TPingThread> Make(int& Status, const TIpOptions& Options, int PacketSize,
                                             std::uint16_t TimeOut, TEchoReply& Reply, bool Ipv6);
    struct Result {
        int result = 0;
        bool gotReply = false;
        TEchoReply reply;
        TEcho6Reply reply6;
    };
    static void Execute(std::shared_ptr<TPingThread> self);
    static void WorkerLoop(std::shared_ptr<TPingThread> first);
    Result RunOnce();
    // Window thread: runs the completions of the results posted so far.
    // Posted is the number of completions that had ended when the post was
    // made.
    void Complete(int Posted);

    // Copies taken at creation; the worker reads and writes only these.
    IcmpHandle FHandle = InvalidIcmpHandle;
    std::uint32_t FAddress = 0;
    int FPacketSize = 0;
    std::uint16_t FTimeOut = 0;
    TIpOptions FOptions;
    bool FIpv6 = false;
    TIpv6Address FAddress6;
    bool FTerminated = false;
    int FSeries = 1;

    // The creator's destinations; used on the window thread only.
    int* FStatusDest = nullptr;
    TEchoReply* FReplyDest = nullptr;
    TEcho6Reply* FReply6Dest = nullptr;

    // Window thread only: completions run so far, and whether one is
    // running now.
    int FDelivered = 0;
    bool FCompleting = false;
    // Completions that have returned; read by the worker when it posts.
    std::atomic<int> FEnded{0};

    // Guarded by the registry's mutex.
    bool FDetached = false;
    bool FStopSeries = false;
    bool FStarted = false;
    std::deque<Result> FResults; // posted, their completions not run yet
};

#include "echo/TAxIcmp.h"
#include "echo/IcmpBinding.h"
#include "echo/TPingThread.h"
#include "platform/Component.h"
#include "resolve/WSExtra.h"
#include "support/EventWait.h"
#include "support/FakeIcmpService.h"
#include "support/FakeMessageBoxes.h"
#include "support/FakeSocketLibrary.h"

#include <QThread>
#include <gtest/gtest.h>
#include <optional>

using namespace netsonde::test;

namespace {

// Records the events of a component in order.
struct Recorder {
    QStringList events;
    std::vector<QThread*> threads;
    void Attach(TAxIcmp& c) {
        c.OnData = [this](QObject*, int status) {
            events << QStringLiteral("data %1").arg(status);
            threads.push_back(QThread::currentThread());
        };
        c.OnError = [this](QObject*, int code, const QString& msg) {
            events << QStringLiteral("error %1 %2").arg(code).arg(msg);
            threads.push_back(QThread::currentThread());
        };
    }
};

class EchoComponent : public testing::Test {
protected:
    void SetUp() override { binding.emplace(); }
    void TearDown() override {
        service.ReleaseAll();
        binding.reset();
        EXPECT_EQ(TPingThread::LiveCount(), 0);
        EXPECT_EQ(TPingThread::PoolThreads(), 0) << "releasing the service ends parked workers";
        EXPECT_EQ(service.OpenHandles(), 0) << "every service handle is closed";
    }
    // Sends one echo to address and waits for its event.
    void Echo(TAxIcmp& c, Recorder& r, const char* address) {
        c.SetTargetAddress(Ip(address));
        qsizetype before = r.events.size();
        c.SendEcho();
        ASSERT_TRUE(WaitUntil([&] { return r.events.size() > before; }));
    }

    FakeIcmpService service;
    FakeMessageBoxes boxes;
    std::optional<IcmpBindingScope> binding;
};

TEST_F(EchoComponent, StartsWithItsDefaults) {
    TAxIcmp c(nullptr);
    EXPECT_EQ(c.Mode(), wsmAsync);
    EXPECT_EQ(c.PacketSize(), 56);
    EXPECT_EQ(c.TimeOut(), 2500);
    EXPECT_EQ(c.TimeToLive(), 32);
    EXPECT_EQ(c.Options().Ttl, 32);
    EXPECT_EQ(c.TargetAddress(), NoAddress);
    EXPECT_EQ(c.Status(), 0);
}

TEST_F(EchoComponent, PacketSizeHasAFloorOfEight) {
    TAxIcmp c(nullptr);
    for (auto [in, out] : {std::pair{0, 8}, {7, 8}, {-5, 8}, {8, 8}, {65000, 65000}}) {
        c.SetPacketSize(in);
        EXPECT_EQ(c.PacketSize(), out) << in;
    }
}

TEST_F(EchoComponent, TimeToLiveIsCopiedIntoTheOptionsOnlyByARun) {
    TAxIcmp c(nullptr);
    c.SetTimeToLive(5);
    EXPECT_EQ(c.Options().Ttl, 32);
}

TEST_F(EchoComponent, ResultsAreSortedIntoDataAndErrors) {
    service.SetAnswer("10.0.0.1", FakeAnswer::Echo("10.0.0.1", 3));
    service.SetAnswer("10.0.0.2", FakeAnswer::NoAnswer());
    service.SetAnswer("10.0.0.3", FakeAnswer::IcmpError("10.9.9.9", 11013));
    service.SetAnswer("10.0.0.4", FakeAnswer::IcmpError("10.9.9.8", 11003));
    service.SetAnswer("10.0.0.5", FakeAnswer::Failure(10050));
    service.SetAnswer("10.0.0.6", FakeAnswer::Failure(11023));
    TAxIcmp c(nullptr);
    Recorder r;
    r.Attach(c);

    Echo(c, r, "10.0.0.1");
    EXPECT_EQ(r.events.last(), "data 0");
    EXPECT_EQ(c.StatusText(), "Success");
    EXPECT_EQ(c.Reply().Address, Ip("10.0.0.1"));

    Echo(c, r, "10.0.0.2");
    EXPECT_EQ(r.events.last(), "data 11010") << "a time-out is data, not an error";
    EXPECT_EQ(c.StatusText(), "Request timed out");
    EXPECT_EQ(c.Reply().Address, NoAddress);
    EXPECT_EQ(c.Reply().Status, 11010u);

    Echo(c, r, "10.0.0.3");
    EXPECT_EQ(r.events.last(), "data 11013");
    EXPECT_EQ(c.Reply().Address, Ip("10.9.9.9")) << "the router that reported";

    Echo(c, r, "10.0.0.4");
    EXPECT_EQ(r.events.last(), "data 11003");
    EXPECT_EQ(c.StatusText(), "Destination host unreachable");

    Echo(c, r, "10.0.0.5");
    EXPECT_EQ(r.events.last(), "error 10050 Network subsystem failed");

    Echo(c, r, "10.0.0.6");
    EXPECT_EQ(r.events.last(), "data 11023") << "codes without a text are still results";
    EXPECT_EQ(c.StatusText(), "");

    for (QThread* t : r.threads)
        EXPECT_EQ(t, QThread::currentThread()) << "events fire on the window thread";
    // Every request ran on a worker thread of its own.
    for (const FakeRequest& req : service.Requests())
        EXPECT_NE(req.thread, std::this_thread::get_id());
}

TEST_F(EchoComponent, BlockingModeFiresTheEventBeforeSendEchoReturns) {
    service.SetAnswer("10.0.0.1", FakeAnswer::Echo("10.0.0.1", 2));
    TAxIcmp c(nullptr);
    c.SetMode(wsmBlocking);
    Recorder r;
    r.Attach(c);
    c.SetTargetAddress(Ip("10.0.0.1"));
    c.SendEcho();
    EXPECT_EQ(r.events, QStringList{"data 0"});
    ASSERT_EQ(service.Requests().size(), 1u);
    EXPECT_EQ(service.Requests()[0].thread, std::this_thread::get_id());
}

TEST_F(EchoComponent, MissingHandleIsAnErrorAndShowsAMessageWithoutAHandler) {
    service.SetNoHandle(true);
    for (TWSMode mode : {wsmAsync, wsmBlocking}) {
        TAxIcmp c(nullptr);
        c.SetMode(mode);
        Recorder r;
        r.Attach(c);
        Echo(c, r, "10.0.0.1");
        EXPECT_EQ(r.events, QStringList{"error -2147483392 Unable to get a handle for the Ping"});
    }
    TAxIcmp silent(nullptr);
    silent.SetTargetAddress(Ip("10.0.0.1"));
    silent.SendEcho();
    ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.isEmpty(); }));
    EXPECT_EQ(
        boxes.shown,
        QStringList{"information: Ping Error -2147483392: Unable to get a handle for the Ping"});
    EXPECT_TRUE(service.Requests().empty());
}

TEST_F(EchoComponent, ParametersAreCopiedWhenTheRequestStarts) {
    service.HoldRequests(true);
    TAxIcmp c(nullptr);
    Recorder r;
    r.Attach(c);
    c.SetPacketSize(100);
    c.SetTimeOut(700);
    c.SetTargetAddress(Ip("10.0.0.7"));
    c.SendEcho();
    ASSERT_TRUE(service.WaitForHeld(1));
    c.SetPacketSize(200);
    c.SetTargetAddress(Ip("10.0.0.8"));
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return !r.events.isEmpty(); }));
    FakeRequest req = service.Requests().at(0);
    EXPECT_EQ(req.size, 100);
    EXPECT_EQ(req.timeout, 700u);
    EXPECT_EQ(req.destination, Ip("10.0.0.7"));
}

TEST_F(EchoComponent, DestroyedWhileARequestIsInFlight) {
    service.SetDefault(FakeAnswer::Echo("10.0.0.1"));
    service.HoldRequests(true);
    bool fired = false;
    {
        auto* c = new TAxIcmp(nullptr);
        c->OnData = [&](QObject*, int) { fired = true; };
        c->SetTargetAddress(Ip("10.0.0.1"));
        c->SendEcho();
        ASSERT_TRUE(service.WaitForHeld(1));
        delete c;
    }
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil([] { return TPingThread::LiveCount() == 0; }));
    // Let a completion that might have been queued run: it must do nothing.
    QCoreApplication::processEvents();
    EXPECT_FALSE(fired);
}

TEST_F(EchoComponent, DestroyedAfterTheReplyButBeforeItsCompletionRan) {
    service.SetDefault(FakeAnswer::Echo("10.0.0.1"));
    bool fired = false;
    auto* c = new TAxIcmp(nullptr);
    c->OnData = [&](QObject*, int) { fired = true; };
    c->SetTargetAddress(Ip("10.0.0.1"));
    c->SendEcho();
    // The worker answers at once and waits for its completion, which cannot
    // run before this test returns to the event loop.
    ASSERT_TRUE(service.WaitForRequests(1));
    delete c;
    ASSERT_TRUE(WaitUntil([] { return TPingThread::LiveCount() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(fired);
}

TEST_F(EchoComponent, ReleasingTheServiceWakesRequestsInFlight) {
    service.HoldRequests(true);
    TAxIcmp c(nullptr);
    c.SetTargetAddress(Ip("10.0.0.1"));
    c.SendEcho();
    ASSERT_TRUE(service.WaitForHeld(1));
    binding.reset(); // must neither hang nor leave a worker behind
    EXPECT_EQ(TPingThread::LiveCount(), 0);
    EXPECT_EQ(service.Interrupts(), 1);
    binding.emplace();
}

TEST_F(EchoComponent, AFinishedWorkerTakesTheNextRequest) {
    service.SetDefault(FakeAnswer::Echo("10.0.0.1"));
    TAxIcmp c(nullptr);
    Recorder r;
    r.Attach(c);
    Echo(c, r, "10.0.0.1");
    ASSERT_TRUE(WaitUntil([] { return TPingThread::ParkedThreads() == 1; }));
    Echo(c, r, "10.0.0.1");
    ASSERT_EQ(service.Requests().size(), 2u);
    EXPECT_EQ(service.Requests()[0].thread, service.Requests()[1].thread);
    EXPECT_NE(service.Requests()[1].thread, std::this_thread::get_id());
    EXPECT_EQ(TPingThread::PoolThreads(), 1);
}

TEST_F(EchoComponent, ARequestNeverWaitsForAnotherRequestsWorker) {
    service.SetDefault(FakeAnswer::Echo("10.0.0.1"));
    service.HoldRequests(true);
    std::vector<std::unique_ptr<TAxIcmp>> components;
    Recorder r;
    // Six requests in flight at once, more than stay parked afterwards.
    for (int i = 0; i < 6; ++i) {
        components.push_back(std::make_unique<TAxIcmp>(nullptr));
        r.Attach(*components.back());
        components.back()->SetTargetAddress(Ip("10.0.0.1"));
        components.back()->SendEcho();
        ASSERT_TRUE(service.WaitForHeld(i + 1)) << "request " << i + 1 << " waits for no other";
    }
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return r.events.size() == 6; }));
    ASSERT_TRUE(WaitUntil([] { return TPingThread::PoolThreads() == 4; }))
        << "only a few finished workers stay parked";
    EXPECT_EQ(TPingThread::ParkedThreads(), 4);
}

TEST_F(EchoComponent, LongBlockingRunsDoNotRecurse) {
    // Each completion issues the next request; in blocking mode that must be
    // a loop, so a long run cannot exhaust the stack.
    service.SetDefault(FakeAnswer::Echo("10.0.0.1"));
    TAxIcmp c(nullptr);
    c.SetMode(wsmBlocking);
    c.SetTargetAddress(Ip("10.0.0.1"));
    int count = 0;
    const void* firstFrame = nullptr;
    std::ptrdiff_t deepest = 0;
    c.OnData = [&](QObject*, int) {
        const void* frame = __builtin_frame_address(0);
        if (firstFrame == nullptr)
            firstFrame = frame;
        deepest = std::max(deepest, std::abs(static_cast<const char*>(firstFrame) -
                                             static_cast<const char*>(frame)));
        if (++count < 20000)
            c.SendEcho();
    };
    c.SendEcho();
    EXPECT_EQ(count, 20000);
    EXPECT_LT(deepest, 4096) << "the stack did not grow with the run";
}

// The socket library is started by the first component and stopped by it.
class SocketOwnership : public testing::Test {
protected:
    FakeSocketLibrary library;
    FakeMessageBoxes boxes;
};

TEST_F(SocketOwnership, FirstComponentOwnsTheLibrary) {
    auto* first = new TAxIcmp(nullptr);
    auto* second = new TAxIcmp(nullptr);
    EXPECT_EQ(library.startups, 1);
    EXPECT_EQ(SocketsOwner(), first);
    delete second;
    EXPECT_EQ(library.cleanups, 0);
    delete first;
    EXPECT_EQ(library.cleanups, 1);
    EXPECT_FALSE(SocketsStarted());
}

TEST_F(SocketOwnership, OwnerDestroyedFirstStopsTheLibraryForEveryone) {
    auto* first = new TAxIcmp(nullptr);
    auto* second = new TAxIcmp(nullptr);
    delete first;
    EXPECT_FALSE(SocketsStarted());
    delete second;
    EXPECT_EQ(library.cleanups, 1);
}

TEST_F(SocketOwnership, StartupFailureAnsweredWithIgnoreIsRetriedByTheNext) {
    library.failStartupWith = 10091;
    {
        TAxIcmp c(nullptr);
        EXPECT_FALSE(SocketsStarted());
        EXPECT_EQ(boxes.shown, QStringList{"error: WinSock not present or not responding"});
    }
    library.failStartupWith = 0;
    TAxIcmp next(nullptr);
    EXPECT_EQ(library.startups, 2);
    EXPECT_TRUE(SocketsStarted());
}

TEST_F(SocketOwnership, CleanupFailureShowsAPlainMessageAndKeepsTheOwner) {
    auto* c = new TAxIcmp(nullptr);
    library.failCleanupWith = 10036;
    delete c;
    EXPECT_EQ(boxes.shown, QStringList{"plain: Blocking operation in progress"});
    EXPECT_TRUE(SocketsStarted());
    library.failCleanupWith = 0;
    StopSocketLibrary(const_cast<QObject*>(SocketsOwner()));
    EXPECT_FALSE(SocketsStarted());
}

TEST_F(SocketOwnership, DesignedComponentsNeverTouchTheLibrary) {
    QObject form;
    platform::SetDesigning(&form, true);
    { TAxIcmp c(&form); }
    EXPECT_EQ(library.startups, 0);
    EXPECT_EQ(library.cleanups, 0);
}

TEST(SocketOwnershipDeathTest, AbortOnAStartupFailureEndsTheProgram) {
    EXPECT_EXIT(
        {
            FakeSocketLibrary library;
            library.failStartupWith = 10092;
            FakeMessageBoxes boxes;
            boxes.AnswerNext(platform::MsgAnswer::Abort);
            TAxIcmp c(nullptr);
        },
        testing::ExitedWithCode(3), "");
}

} // namespace

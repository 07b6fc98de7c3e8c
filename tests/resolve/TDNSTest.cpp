#include "resolve/TDNS.h"
#include "platform/NameService.h"
#include "platform/WinSock.h"
#include "platform/WindowMessage.h"
#include "resolve/WSExtra.h"
#include "support/EventWait.h"
#include "support/FakeMessageBoxes.h"
#include "support/FakeNameService.h"
#include "support/FakeSocketLibrary.h"

#include <QThread>
#include <QWidget>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <type_traits>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

using namespace netsonde::test;

namespace {

// One OnResolved as the caller saw it.
struct Answer {
    int code;
    QString text;
    std::uint32_t addr;
    QString name;
    QString address;
    QThread* thread;
};

struct Recorder {
    std::vector<Answer> answers;
    void Attach(TDNS& dns) {
        dns.OnResolved = [this, &dns](QObject* sender) {
            EXPECT_EQ(sender, &dns);
            answers.push_back({dns.ErrorCode(), dns.ErrorText(), dns.Addr(), dns.HostName(),
                               dns.HostAddress(), QThread::currentThread()});
        };
    }
};

class Resolver : public testing::Test {
protected:
    void SetUp() override {
        names.AddHost("gateway", {"192.168.1.1"});
        names.AddHost("printer", {"192.168.1.10"});
    }
    void TearDown() override {
        names.ReleaseAll();
        // No lookup worker outlives its test.
        EXPECT_TRUE(WaitUntil([] { return platform::AsyncLookupsInFlight() == 0; }));
    }
    // Lookups the name service saw, in order.
    std::vector<std::string> Seen() const {
        std::vector<std::string> seen;
        for (const FakeLookup& l : names.Lookups())
            seen.push_back(l.what);
        return seen;
    }

    FakeNameService names;
    FakeMessageBoxes boxes;
    QWidget form;
};

TEST_F(Resolver, StartsIdleAndBlocking) {
    TDNS dns(nullptr);
    EXPECT_EQ(dns.Mode(), wsmBlocking);
    EXPECT_EQ(dns.Addr(), platform::InaddrNone);
    EXPECT_FALSE(dns.Busy());
    EXPECT_TRUE(dns.HostName().isEmpty());
    static_assert(!std::is_base_of_v<QWidget, TDNS>, "the resolver is no widget, never shown");
}

TEST_F(Resolver, NamesGoForwardAndDottedTextsInReverse) {
    TDNS dns(nullptr);
    Recorder r;
    r.Attach(dns);

    dns.Lookup("gateway");
    ASSERT_EQ(r.answers.size(), 1u) << "blocking: answered before Lookup returns";
    EXPECT_EQ(r.answers[0].code, 0);
    EXPECT_EQ(r.answers[0].addr, ::inet_addr("192.168.1.1"));
    EXPECT_EQ(r.answers[0].name, "gateway");
    EXPECT_EQ(r.answers[0].address, "192.168.1.1");
    EXPECT_EQ(r.answers[0].thread, QThread::currentThread());

    dns.Lookup("192.168.1.010");
    ASSERT_EQ(r.answers.size(), 2u);
    EXPECT_EQ(r.answers[1].code, 0);
    EXPECT_EQ(r.answers[1].name, "printer") << "leading zeros are decimal";
    EXPECT_EQ(r.answers[1].address, "192.168.1.10");

    dns.Lookup("255.255.255.255");
    EXPECT_EQ(Seen(), (std::vector<std::string>{"name:gateway", "addr:192.168.1.10",
                                                "name:255.255.255.255"}));
    EXPECT_FALSE(dns.Busy());
}

TEST_F(Resolver, FailuresCarryTheLibraryCodeAndKeepTheConvertedAddress) {
    names.SetNameError("flaky", 11002);
    TDNS dns(nullptr);
    Recorder r;
    r.Attach(dns);

    dns.Lookup("nowhere");
    ASSERT_EQ(r.answers.size(), 1u);
    EXPECT_EQ(r.answers[0].code, 11001);
    EXPECT_EQ(r.answers[0].text, "Authoritative Host not found");
    EXPECT_EQ(r.answers[0].addr, platform::InaddrNone);

    dns.Lookup("flaky");
    EXPECT_EQ(r.answers[1].code, 11002);
    EXPECT_EQ(r.answers[1].text, "Non-authoritative Host not found or server failure");

    dns.Lookup("10.9.8.7");
    EXPECT_EQ(r.answers[2].code, 11001);
    EXPECT_EQ(r.answers[2].addr, ::inet_addr("10.9.8.7"));
    EXPECT_TRUE(r.answers[2].name.isEmpty());
    EXPECT_TRUE(r.answers[2].address.isEmpty());

    // A text with a zero inside is not cut short into another host.
    dns.Lookup(QString::fromLatin1("192.168.1.1\0x", 13));
    EXPECT_EQ(r.answers[3].code, 11001);
    EXPECT_EQ(r.answers[3].addr, platform::InaddrNone);

    dns.Lookup("gateway");
    EXPECT_EQ(r.answers[4].code, 0);
    EXPECT_EQ(r.answers[4].text, "Authoritative Host not found")
        << "the text of the last failure stays";
    EXPECT_EQ(Seen().size(), 4u) << "the text with a zero was never looked up";
}

TEST_F(Resolver, EmptyTextIsAnsweredOnceWithoutALookup) {
    for (TWSMode mode : {wsmBlocking, wsmAsync}) {
        TDNS dns(nullptr);
        dns.setParent(&form);
        dns.SetMode(mode);
        Recorder r;
        r.Attach(dns);
        dns.Lookup("");
        ASSERT_EQ(r.answers.size(), 1u);
        EXPECT_EQ(r.answers[0].code, -2147483646);
        EXPECT_EQ(r.answers[0].text, "No Address Specified");
        EXPECT_FALSE(dns.Busy());
    }
    EXPECT_TRUE(Seen().empty());
}

TEST_F(Resolver, LookupFromInsideOnResolvedIsRefused) {
    TDNS dns(nullptr);
    std::vector<int> codes;
    bool nested = false;
    dns.OnResolved = [&](QObject*) {
        codes.push_back(dns.ErrorCode());
        if (!nested) {
            nested = true;
            dns.Lookup("printer");
            EXPECT_EQ(dns.ErrorText(), "Lookup already in progress");
        }
    };
    dns.Lookup("gateway");
    EXPECT_EQ(codes, (std::vector<int>{0, -2147483647 - 1}));
    EXPECT_FALSE(dns.Busy());
}

TEST_F(Resolver, AsyncLookupsRunOffTheWindowThreadAndAnswerOnIt) {
    TDNS dns(nullptr);
    dns.setParent(&form);
    dns.SetMode(wsmAsync);
    Recorder r;
    r.Attach(dns);
    form.show();
    EXPECT_TRUE(form.findChildren<QWidget*>().isEmpty()) << "the resolver adds no widget";

    dns.Lookup("gateway");
    EXPECT_TRUE(dns.Busy());
    EXPECT_TRUE(r.answers.empty()) << "async: Lookup returns at once";
    ASSERT_TRUE(WaitUntil([&] { return !r.answers.empty(); }));
    EXPECT_EQ(r.answers[0].code, 0);
    EXPECT_EQ(r.answers[0].name, "gateway");
    EXPECT_EQ(r.answers[0].address, "192.168.1.1");
    EXPECT_EQ(r.answers[0].thread, QThread::currentThread());
    EXPECT_NE(names.Lookups().at(0).thread, std::this_thread::get_id());
    EXPECT_FALSE(dns.Busy());

    dns.Lookup("10.9.8.7");
    ASSERT_TRUE(WaitUntil([&] { return r.answers.size() == 2; }));
    EXPECT_EQ(r.answers[1].code, 11001);
    EXPECT_EQ(r.answers[1].addr, ::inet_addr("10.9.8.7"));
    EXPECT_EQ(dns.Mode(), wsmAsync);
}

TEST_F(Resolver, AsyncWithoutAParentRunsBlockingFromThenOn) {
    TDNS dns(nullptr);
    dns.SetMode(wsmAsync);
    Recorder r;
    r.Attach(dns);
    dns.Lookup("gateway");
    ASSERT_EQ(r.answers.size(), 1u);
    EXPECT_EQ(r.answers[0].code, 0);
    EXPECT_EQ(dns.Mode(), wsmBlocking);
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(Resolver, SecondLookupWhileBusyIsRefusedAndTheFirstGoesOn) {
    names.HoldLookups(true);
    TDNS dns(nullptr);
    dns.setParent(&form);
    dns.SetMode(wsmAsync);
    Recorder r;
    r.Attach(dns);
    dns.Lookup("gateway");
    ASSERT_TRUE(names.WaitForHeld(1));
    dns.Lookup("printer");
    ASSERT_EQ(r.answers.size(), 1u);
    EXPECT_EQ(r.answers[0].code, static_cast<int>(0x80000000u));
    EXPECT_EQ(r.answers[0].text, "Lookup already in progress");
    EXPECT_TRUE(dns.Busy());

    names.ReleaseOne();
    ASSERT_TRUE(WaitUntil([&] { return r.answers.size() == 2; }));
    EXPECT_EQ(r.answers[1].code, 0);
    EXPECT_EQ(r.answers[1].name, "gateway");
    EXPECT_FALSE(dns.Busy());
    EXPECT_EQ(Seen(), std::vector<std::string>{"name:gateway"});
}

TEST_F(Resolver, CancelEndsAnAsyncLookupAndNoReplyFollows) {
    names.HoldLookups(true);
    TDNS dns(nullptr);
    dns.setParent(&form);
    Recorder r;
    r.Attach(dns);

    dns.Cancel(); // idle, blocking: nothing
    dns.SetMode(wsmAsync);
    dns.Cancel(); // idle, async: nothing
    EXPECT_TRUE(r.answers.empty());

    dns.Lookup("gateway");
    ASSERT_TRUE(names.WaitForHeld(1));
    dns.Cancel();
    ASSERT_EQ(r.answers.size(), 1u);
    EXPECT_EQ(r.answers[0].code, -2147483647);
    EXPECT_EQ(r.answers[0].text, "Cancelled Asynchronous lookup");
    EXPECT_FALSE(dns.Busy());
    dns.Cancel();
    EXPECT_EQ(r.answers.size(), 1u) << "a second cancel finds nothing to end";

    names.ReleaseAll();
    ASSERT_TRUE(WaitUntil([] { return platform::AsyncLookupsInFlight() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(r.answers.size(), 1u) << "the cancelled request's reply never comes";

    // The resolver is usable again.
    dns.Lookup("printer");
    ASSERT_TRUE(WaitUntil([&] { return r.answers.size() == 2; }));
    EXPECT_EQ(r.answers[1].name, "printer");
}

TEST_F(Resolver, CancelAfterTheReplyWasQueuedStillWins) {
    TDNS dns(nullptr);
    dns.setParent(&form);
    dns.SetMode(wsmAsync);
    Recorder r;
    r.Attach(dns);
    dns.Lookup("gateway");
    // The worker answers and queues the reply, which cannot be handled
    // before this test returns to the event loop.
    ASSERT_TRUE(platform::WaitForAsyncLookups(5000));
    dns.Cancel();
    QCoreApplication::processEvents();
    ASSERT_EQ(r.answers.size(), 1u);
    EXPECT_EQ(r.answers[0].code, -2147483647);
}

// Records the replies of the library's asynchronous lookups sent to it.
class ReplyWindow : public QObject {
public:
    struct Reply {
        platform::AsyncHandle handle;
        int error;
    };
    std::vector<Reply> replies;
    static constexpr unsigned Msg = platform::WM_USER + 77;

protected:
    bool event(QEvent* e) override {
        if (e->type() != static_cast<QEvent::Type>(Msg))
            return QObject::event(e);
        const auto* m = static_cast<platform::WindowMessage*>(e);
        replies.push_back({m->wParam, static_cast<int>(m->lParam >> 16 & 0xFFFF)});
        return true;
    }
};

// The socket library started for a test's own calls.
struct LibraryStarted {
    LibraryStarted() { EXPECT_EQ(platform::WSAStartup(0x0101, nullptr), 0); }
    ~LibraryStarted() { platform::WSACleanup(); }
};

TEST_F(Resolver, ManyAsyncLookupsShareAFewWorkers) {
    const LibraryStarted library;
    names.HoldLookups(true);
    ReplyWindow window;
    constexpr int kLookups = 64;
    std::vector<std::vector<char>> buffers(kLookups, std::vector<char>(platform::MAXGETHOSTSTRUCT));
    std::vector<platform::AsyncHandle> handles;
    for (int i = 0; i < kLookups; ++i) {
        handles.push_back(
            platform::WSAAsyncGetHostByName(&window, ReplyWindow::Msg, i % 2 ? "gateway" : "nohost",
                                            buffers[i].data(), platform::MAXGETHOSTSTRUCT));
        ASSERT_NE(handles.back(), 0u);
    }
    ASSERT_TRUE(names.WaitForHeld(4));
    names.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return window.replies.size() == kLookups; }));
    // Each request answered once, with its own outcome.
    std::set<platform::AsyncHandle> answered;
    for (const ReplyWindow::Reply& r : window.replies) {
        answered.insert(r.handle);
        const int i =
            static_cast<int>(std::find(handles.begin(), handles.end(), r.handle) - handles.begin());
        ASSERT_LT(i, kLookups);
        EXPECT_EQ(r.error, i % 2 ? 0 : 11001) << i;
    }
    EXPECT_EQ(answered.size(), std::size_t{kLookups});
    // A few threads did all the lookups.
    std::set<std::thread::id> threads;
    for (const FakeLookup& l : names.Lookups())
        threads.insert(l.thread);
    EXPECT_EQ(names.Lookups().size(), std::size_t{kLookups});
    EXPECT_LE(threads.size(), 16u);
}

// A name service that holds the answer to one name already.
class HoldingService : public platform::NameService {
public:
    int ByName(const std::string&, platform::HostRecord&) override {
        ++asked;
        return 11001;
    }
    int ByAddr(std::uint32_t, platform::HostRecord&) override {
        ++asked;
        return 11001;
    }
    bool HeldByName(const std::string& name, int& code, platform::HostRecord& record) override {
        if (name != "cached")
            return false;
        code = 0;
        record.name = "cached.example";
        record.addresses = {htonl(0x0A000001)};
        return true;
    }
    std::atomic<int> asked{0};
};

TEST_F(Resolver, AnAnswerTheServiceHoldsComesAsAMessageWithoutAWorker) {
    const LibraryStarted library;
    auto service = std::make_shared<HoldingService>();
    auto previous = platform::SetNameServiceForTests(service);
    ReplyWindow window;
    std::vector<char> buffer(platform::MAXGETHOSTSTRUCT), other(platform::MAXGETHOSTSTRUCT);
    const platform::AsyncHandle handle = platform::WSAAsyncGetHostByName(
        &window, ReplyWindow::Msg, "cached", buffer.data(), platform::MAXGETHOSTSTRUCT);
    ASSERT_NE(handle, 0u);
    // Not answered inside the call, and no lookup runs for it.
    EXPECT_TRUE(window.replies.empty());
    EXPECT_EQ(platform::AsyncLookupsInFlight(), 0);
    // A second one is cancelled before its message is handled: none comes.
    const platform::AsyncHandle cancelled = platform::WSAAsyncGetHostByName(
        &window, ReplyWindow::Msg, "cached", other.data(), platform::MAXGETHOSTSTRUCT);
    EXPECT_EQ(platform::WSACancelAsyncRequest(cancelled), 0);
    ASSERT_TRUE(WaitUntil([&] { return !window.replies.empty(); }));
    QCoreApplication::processEvents();
    platform::SetNameServiceForTests(previous);
    ASSERT_EQ(window.replies.size(), 1u);
    EXPECT_EQ(window.replies[0].handle, handle);
    EXPECT_EQ(window.replies[0].error, 0);
    const auto* entry = reinterpret_cast<const platform::hostent*>(buffer.data());
    EXPECT_STREQ(entry->h_name, "cached.example");
    EXPECT_EQ(service->asked.load(), 0);
}

TEST_F(Resolver, DestroyedWithALookupInFlight) {
    names.HoldLookups(true);
    bool fired = false;
    auto* dns = new TDNS(nullptr);
    dns->setParent(&form);
    dns->SetMode(wsmAsync);
    dns->OnResolved = [&](QObject*) { fired = true; };
    dns->Lookup("gateway");
    ASSERT_TRUE(names.WaitForHeld(1));
    delete dns; // the buffer is released here; the sanitizer checks that
    names.ReleaseAll();
    ASSERT_TRUE(WaitUntil([] { return platform::AsyncLookupsInFlight() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(fired);
}

TEST_F(Resolver, DestroyedByItsOwnOnResolved) {
    auto* dns = new TDNS(nullptr);
    dns->setParent(&form);
    dns->SetMode(wsmAsync);
    bool fired = false;
    dns->OnResolved = [&](QObject* sender) {
        fired = true;
        delete sender;
    };
    dns->Lookup("gateway");
    ASSERT_TRUE(WaitUntil([&] { return fired; }));
}

TEST_F(Resolver, EntriesLargerThanTheReplyBufferKeepNameAndFirstAddress) {
    std::vector<std::string> aliases(200, std::string(30, 'a'));
    std::vector<std::string> ips;
    for (int i = 1; i <= 250; ++i)
        ips.push_back("10.0.1." + std::to_string(i));
    std::vector<const char*> addresses;
    for (const std::string& ip : ips)
        addresses.push_back(ip.c_str());
    names.AddHost("crowded", addresses, aliases);
    names.AddHost(std::string(1100, 'n'), {"10.0.2.1"});

    TDNS dns(nullptr);
    dns.setParent(&form);
    dns.SetMode(wsmAsync);
    Recorder r;
    r.Attach(dns);
    dns.Lookup("crowded");
    ASSERT_TRUE(WaitUntil([&] { return r.answers.size() == 1; }));
    EXPECT_EQ(r.answers[0].code, 0);
    EXPECT_EQ(r.answers[0].name, "crowded");
    EXPECT_EQ(r.answers[0].address, "10.0.1.1");

    // A name that cannot fit at all is reported, not written past the end.
    dns.Lookup(QString(1100, QLatin1Char('n')));
    ASSERT_TRUE(WaitUntil([&] { return r.answers.size() == 2; }));
    EXPECT_EQ(r.answers[1].code, 10055);
    EXPECT_EQ(r.answers[1].text, "No buffer space available");
}

// The library that a resolver needs was never started.
class ResolverWithoutLibrary : public testing::Test {
protected:
    FakeSocketLibrary library;
    FakeMessageBoxes boxes;
    FakeNameService names;
    QWidget form;
};

TEST_F(ResolverWithoutLibrary, EveryLookupFailsWithNotInitialised) {
    library.failStartupWith = 10091; // answered with Ignore
    TDNS dns(nullptr);
    dns.setParent(&form);
    ASSERT_FALSE(SocketsStarted());
    Recorder r;
    r.Attach(dns);
    dns.Lookup("gateway");
    dns.SetMode(wsmAsync);
    dns.Lookup("10.1.1.1");
    ASSERT_EQ(r.answers.size(), 2u) << "a refused async request ends at once";
    for (const Answer& a : r.answers) {
        EXPECT_EQ(a.code, 10093);
        EXPECT_EQ(a.text, "WSA Startup not initialized");
    }
    EXPECT_FALSE(dns.Busy());
    EXPECT_TRUE(names.Lookups().empty());
}

TEST_F(ResolverWithoutLibrary, TheFirstResolverOwnsTheLibrary) {
    auto* first = new TDNS(nullptr);
    TDNS second(nullptr);
    EXPECT_EQ(library.startups, 1);
    delete first;
    EXPECT_EQ(library.cleanups, 1);
    Recorder r;
    r.Attach(second);
    second.Lookup("gateway");
    EXPECT_EQ(r.answers.at(0).code, 10093);
}

TEST(NameOperations, CancelOfAnUnknownRequestFails) {
    EXPECT_EQ(platform::WSACancelAsyncRequest(12345), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10022);
}

TEST(NameOperations, ResolverErrorsMapToSocketCodes) {
    EXPECT_EQ(platform::SystemNameService::ErrorCode(HOST_NOT_FOUND), 11001);
    EXPECT_EQ(platform::SystemNameService::ErrorCode(TRY_AGAIN), 11002);
    EXPECT_EQ(platform::SystemNameService::ErrorCode(NO_RECOVERY), 11003);
    EXPECT_EQ(platform::SystemNameService::ErrorCode(NO_DATA), 11004);
    EXPECT_EQ(platform::SystemNameService::ErrorCode(NETDB_INTERNAL), 11003);
}

TEST_F(Resolver, Ipv6NamesAndLiteralsInBothModes) {
    names.AddHost("six", {"FD00:0:0:0:0:0:0:6"});
    names.AddReverse("fe80::1", "neighbour");
    for (TWSMode mode : {wsmBlocking, wsmAsync}) {
        TDNS dns(nullptr);
        dns.setParent(&form);
        dns.SetMode(mode);
        Recorder r;
        r.Attach(dns);
        dns.Lookup("six");
        ASSERT_TRUE(WaitUntil([&] { return r.answers.size() == 1; }));
        EXPECT_EQ(r.answers[0].code, 0);
        EXPECT_EQ(r.answers[0].address, "fd00::6") << "canonical text";
        EXPECT_EQ(dns.Family(), platform::AfInet6);
        EXPECT_EQ(dns.Addr(), platform::InaddrNone);

        // A literal goes in reverse and keeps its zone.
        dns.Lookup("fe80::1%lo");
        ASSERT_TRUE(WaitUntil([&] { return r.answers.size() == 2; }));
        EXPECT_EQ(r.answers[1].code, 0);
        EXPECT_EQ(r.answers[1].name, "neighbour");
        EXPECT_EQ(r.answers[1].address, "fe80::1%lo");
        EXPECT_EQ(dns.Addr6().ScopeId, 1u);

        // Without a name it fails, and still holds the address it read.
        dns.Lookup("fd00::99");
        ASSERT_TRUE(WaitUntil([&] { return r.answers.size() == 3; }));
        EXPECT_EQ(r.answers[2].code, 11001);
        EXPECT_TRUE(r.answers[2].address.isEmpty());
        EXPECT_EQ(dns.Family(), platform::AfInet6);
        EXPECT_EQ(platform::inet_ntoa6(dns.Addr6()), "fd00::99");

        // The next lookup of a dotted text is IPv4 again.
        dns.Lookup("gateway");
        ASSERT_TRUE(WaitUntil([&] { return r.answers.size() == 4; }));
        EXPECT_EQ(dns.Family(), platform::AfInet);
        EXPECT_EQ(r.answers[3].address, "192.168.1.1");
    }
    EXPECT_EQ(Seen(), (std::vector<std::string>{"name:six", "addr:fe80::1", "addr:fd00::99",
                                                "name:gateway", "name:six", "addr:fe80::1",
                                                "addr:fd00::99", "name:gateway"}));
}

// The system's own resolver, with names every machine has in its hosts file.
class SystemResolver : public testing::Test {
protected:
    FakeMessageBoxes boxes;
    QWidget form;
};

TEST_F(SystemResolver, LocalhostBothWaysInBothModes) {
    for (TWSMode mode : {wsmBlocking, wsmAsync}) {
        TDNS dns(nullptr);
        dns.setParent(&form);
        dns.SetMode(mode);
        Recorder r;
        r.Attach(dns);
        dns.Lookup("localhost");
        ASSERT_TRUE(WaitUntil([&] { return r.answers.size() == 1; }));
        EXPECT_EQ(r.answers[0].code, 0) << r.answers[0].text.toStdString();
        EXPECT_EQ(r.answers[0].address, "127.0.0.1");
        EXPECT_EQ(r.answers[0].name, "localhost");

        dns.Lookup("127.0.0.1");
        ASSERT_TRUE(WaitUntil([&] { return r.answers.size() == 2; }));
        EXPECT_EQ(r.answers[1].code, 0);
        EXPECT_EQ(r.answers[1].address, "127.0.0.1");
        EXPECT_FALSE(r.answers[1].name.isEmpty());
    }
    EXPECT_TRUE(WaitUntil([] { return platform::AsyncLookupsInFlight() == 0; }));
}

} // namespace

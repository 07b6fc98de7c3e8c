// The ICMP echo service on real sockets, in a private network namespace
// with loopback and a silent neighbour; the shared cases run for IPv4 and
// IPv6, each on datagram and on raw sockets.
#include "platform/IcmpService.h"
#include "platform/IcmpPacket.h"
#include "platform/LastError.h"
#include "support/EchoCall.h"
#include "support/FakeIcmpService.h"
#include "support/IpFamily.h"
#include "support/PrivateNetwork.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace platform::linuxicmp;
using netsonde::test::Ip;

namespace {

const bool privateNetwork = (netsonde::test::RequestPrivateNetwork(), true);

using Echo = netsonde::test::EchoCall<TEchoReply>;

Echo send(IcmpHandle h, const char* to, std::uint16_t size, std::uint8_t ttl = 32,
          std::uint32_t timeout = 2000, std::uint8_t fill = 0xAA) {
    return netsonde::test::CallEcho<TEchoReply>(size, ttl, fill, [&](auto... request) {
        return IcmpSendEcho(h, Ip(to), request..., timeout);
    });
}

template <class T> class IcmpSockets : public netsonde::test::HandleOn<T> {};
TYPED_TEST_SUITE(IcmpSockets, netsonde::test::FamiliesOnEachSocketKind);

TYPED_TEST(IcmpSockets, LoopbackAnswersWithTheDataItWasSentAndTheKernelsTtl) {
    for (std::uint16_t size : {8, 56, 8000}) {
        auto e = this->Send(this->handle, TypeParam::Loopback, size);
        ASSERT_EQ(e.count, 1u) << "size " << size << " error " << e.error;
        EXPECT_EQ(e.reply.Status, 0u);
        EXPECT_EQ(TypeParam::Text(e.reply.Address), TypeParam::Loopback);
        EXPECT_EQ(e.reply.DataSize, size);
        EXPECT_EQ(e.reply.Options.Ttl, 64) << "the kernel answers with its default TTL";
        EXPECT_LT(e.reply.RoundTripTime, 1000u);
        EXPECT_EQ(e.data, std::vector<std::uint8_t>(size, 0xAA));
    }
}

TYPED_TEST(IcmpSockets, ALateReplyNeverReachesTheNextRequest) {
    // The first request gives up at once; its reply arrives afterwards and
    // waits in the socket. The next request must take only its own answer,
    // told apart here by its size and fill.
    auto first = this->Send(this->handle, TypeParam::Loopback, 100, 32, 0);
    EXPECT_EQ(first.count, 0u);
    EXPECT_EQ(first.error, 11010u);
    auto second = this->Send(this->handle, TypeParam::Loopback, 300, 32, 2000, 0x55);
    ASSERT_EQ(second.count, 1u);
    EXPECT_EQ(second.reply.DataSize, 300);
    EXPECT_EQ(second.data, std::vector<std::uint8_t>(300, 0x55));
}

TYPED_TEST(IcmpSockets, AReusedSocketDropsWhatArrivedWhileItWasIdle) {
    // The handle's socket waits for reuse after closing; replies and a late
    // answer of its own reach it meanwhile.
    CloseIdleSockets();
    IcmpHandle& handle = this->handle;
    auto before = NextEchoNumbers(handle);
    ASSERT_TRUE(before);
    auto late = this->Send(handle, TypeParam::Loopback, 100, 32, 0);
    EXPECT_EQ(late.count, 0u);
    IcmpHandle other = TypeParam::Create();
    ASSERT_TRUE(IcmpCloseHandle(handle));
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(this->Send(other, TypeParam::Loopback, 64).count, 1u);
    ASSERT_TRUE(IcmpCloseHandle(other));
    handle = TypeParam::Create();
    auto after = NextEchoNumbers(handle);
    ASSERT_TRUE(after);
    EXPECT_EQ(HandleSocketKind(handle), TypeParam::Kind);
    auto e = this->Send(handle, TypeParam::Loopback, 300, 32, 2000, 0x55);
    ASSERT_EQ(e.count, 1u);
    EXPECT_EQ(e.data, std::vector<std::uint8_t>(300, 0x55));
    // The same socket, whose sequence goes on after the late request's.
    EXPECT_EQ(after->ident, before->ident);
    EXPECT_EQ(after->sequence, static_cast<std::uint16_t>(before->sequence + 1));
}

TYPED_TEST(IcmpSockets, TwoHandlesInParallelEachGetTheirOwnAnswers) {
    IcmpHandle other = TypeParam::Create();
    ASSERT_NE(other, InvalidIcmpHandle);
    std::atomic<int> wrong{0};
    auto run = [&](IcmpHandle h, std::uint16_t size) {
        for (int i = 0; i < 50; ++i) {
            auto e = this->Send(h, TypeParam::Loopback, size);
            if (e.count != 1 || e.reply.DataSize != size)
                ++wrong;
        }
    };
    std::thread a(run, this->handle, 40);
    std::thread b(run, other, 90);
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_TRUE(IcmpCloseHandle(other));
}

TYPED_TEST(IcmpSockets, SilentDestinationTimesOutWithinTheTimeOut) {
    const char* silent = TypeParam::Silent();
    if (silent == nullptr)
        GTEST_SKIP() << "no silent neighbour in this network";
    auto start = std::chrono::steady_clock::now();
    auto e = this->Send(this->handle, silent, 56, 32, 300);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(e.count, 0u);
    EXPECT_EQ(e.error, 11010u);
    EXPECT_GE(waited, std::chrono::milliseconds(300));
}

TYPED_TEST(IcmpSockets, InterruptWakesAWaitingRequest) {
    const char* silent = TypeParam::Silent();
    if (silent == nullptr)
        GTEST_SKIP() << "no silent neighbour in this network";
    netsonde::test::EchoCall<typename TypeParam::Reply> e;
    std::thread t([&] { e = this->Send(this->handle, silent, 56, 32, 60000); });
    InterruptAllRequests();
    t.join();
    ResumeRequests();
    EXPECT_EQ(e.count, 0u);
    EXPECT_EQ(e.error, 11010u);
    EXPECT_EQ(this->Send(this->handle, TypeParam::Loopback, 8).count, 1u)
        << "requests work again after resuming";
}

TYPED_TEST(IcmpSockets, UnroutableDestinationIsNetUnreachable) {
    auto e = this->Send(this->handle, TypeParam::NoRoute, 56);
    EXPECT_EQ(e.count, 0u);
    EXPECT_EQ(e.error, 11002u);
}

TYPED_TEST(IcmpSockets, RequestsThatCannotBeSentFailClearly) {
    auto tooBig = this->Send(this->handle, TypeParam::Loopback, 65535);
    EXPECT_EQ(tooBig.count, 0u);
    EXPECT_EQ(tooBig.error, 11009u);
    EXPECT_EQ(this->Send(this->handle, TypeParam::Loopback, 56, 0).error, 11007u)
        << "TTL 0 cannot be sent";
    TIpOptions options;
    options.Ttl = 32;
    std::uint8_t small[16] = {};
    EXPECT_EQ(
        TypeParam::SendEcho(this->handle, TypeParam::Loopback, small, 8, &options, small, 16, 100),
        0u);
    EXPECT_EQ(platform::GetLastError(), 11001u) << "reply buffer smaller than a reply header";
}

TYPED_TEST(IcmpSockets, AHandleTakesNoRequestOfTheOtherFamily) {
    std::uint8_t buffer[64] = {};
    EXPECT_EQ(TypeParam::SendEchoOfTheOtherFamily(this->handle, buffer, sizeof buffer), 0u);
    EXPECT_EQ(platform::GetLastError(), 6u);
}

// IPv4 alone has a whole loopback net.
template <class T> class Icmp4Sockets : public netsonde::test::HandleOn<T> {};
TYPED_TEST_SUITE(Icmp4Sockets, netsonde::test::Ipv4OnEachSocketKind);

TYPED_TEST(Icmp4Sockets, OtherLoopbackAddressesAnswerFromThemselves) {
    Echo e = send(this->handle, "127.0.0.9", 32);
    ASSERT_EQ(e.count, 1u);
    EXPECT_EQ(e.reply.Address, Ip("127.0.0.9"));
}

bool writeProc(const char* path, const char* text) {
    FILE* f = std::fopen(path, "w");
    if (f == nullptr)
        return false;
    bool ok = std::fputs(text, f) >= 0;
    return std::fclose(f) == 0 && ok;
}

TEST(IcmpHandles, DatagramSocketsRefusedByThePingGroupRangeFallBackToRaw) {
    if (!netsonde::test::InPrivateNetwork())
        GTEST_SKIP() << "needs a network namespace of its own";
    const char* range = "/proc/sys/net/ipv4/ping_group_range";
    CloseIdleSockets();
    ASSERT_TRUE(writeProc(range, "1 0")); // no group may open one
    IcmpHandle h = IcmpCreateFile();
    SocketKind kind = HandleSocketKind(h);
    IcmpCloseHandle(h);
    ASSERT_TRUE(writeProc(range, "0 2147483647"));
    CloseIdleSockets();
    EXPECT_NE(h, InvalidIcmpHandle);
    EXPECT_EQ(kind, SocketKind::Raw);
}

TEST(IcmpHandles, RawRequestsOutliveTheirHandlesAndSharedSocketAndWakeAtAnInterruption) {
    const char* silent = netsonde::test::SilentAddress();
    if (silent == nullptr)
        GTEST_SKIP() << "no silent neighbour in this network";
    PreferRawSockets(true);
    constexpr int kWaiting = 12;
    std::vector<IcmpHandle> handles;
    for (int i = 0; i < kWaiting; ++i) {
        handles.push_back(IcmpCreateFile());
        ASSERT_EQ(HandleSocketKind(handles.back()), SocketKind::Raw);
    }
    // Half of them wait a short while, half until the interruption.
    std::vector<Echo> echoes(kWaiting);
    std::vector<std::thread> threads;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kWaiting; ++i)
        threads.emplace_back(
            [&, i] { echoes[i] = send(handles[i], silent, 56, 32, i % 2 == 0 ? 400 : 60000); });
    while (WaitingRawRequests() < kWaiting)
        std::this_thread::yield();
    // Closed handles, and the shared socket let go of, while they wait.
    for (IcmpHandle h : handles)
        EXPECT_TRUE(IcmpCloseHandle(h));
    CloseIdleSockets();
    IcmpHandle fresh = IcmpCreateFile();
    EXPECT_EQ(send(fresh, "127.0.0.1", 56).count, 1u) << "a new shared socket answers";
    for (int i = 0; i < kWaiting; i += 2)
        threads[i].join();
    auto shortWaits = std::chrono::steady_clock::now() - start;
    InterruptAllRequests();
    for (int i = 1; i < kWaiting; i += 2)
        threads[i].join();
    ResumeRequests();
    EXPECT_TRUE(IcmpCloseHandle(fresh));
    PreferRawSockets(false);
    CloseIdleSockets();
    for (const Echo& e : echoes) {
        EXPECT_EQ(e.count, 0u);
        EXPECT_EQ(e.error, 11010u);
    }
    EXPECT_LT(shortWaits, std::chrono::seconds(30));
}

// Sends an echo reply to 127.0.0.1 from a raw socket: it reaches the
// datagram socket whose identifier it carries, whatever request waits there.
bool ForgeLoopbackReply(std::uint16_t ident, std::uint16_t sequence) {
    int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    std::vector<std::uint8_t> packet = platform::icmppacket::BuildEchoRequest(ident, sequence, {});
    packet[0] = 0; // echo reply
    packet[2] = packet[3] = 0;
    const std::uint16_t sum = platform::icmppacket::Checksum(packet);
    std::memcpy(&packet[2], &sum, sizeof sum);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = Ip("127.0.0.1");
    const bool sent =
        ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to) == static_cast<ssize_t>(packet.size());
    ::close(fd);
    return sent;
}

TEST(IcmpHandles, ADatagramHandleClosedWhileARequestWaitsOutlivesTheRequest) {
    const char* silent = netsonde::test::SilentAddress();
    if (silent == nullptr)
        GTEST_SKIP() << "no silent neighbour in this network";
    // Closed handles are freed at once when identifiers are seeded, and
    // when the idle list is full.
    for (bool seeded : {true, false}) {
        SCOPED_TRACE(seeded ? "seeded identifiers" : "full idle list");
        CloseIdleSockets();
        if (seeded)
            SeedIdentifiersForTesting(29);
        IcmpHandle h = IcmpCreateFile();
        if (HandleSocketKind(h) != SocketKind::Datagram) {
            IcmpCloseHandle(h);
            SeedIdentifiersForTesting(std::nullopt);
            GTEST_SKIP() << "no datagram ICMP sockets here";
        }
        if (!seeded) {
            std::vector<IcmpHandle> spare;
            for (int i = 0; i < 8; ++i)
                spare.push_back(IcmpCreateFile());
            for (IcmpHandle s : spare)
                ASSERT_TRUE(IcmpCloseHandle(s));
        }
        const auto numbers = NextEchoNumbers(h);
        ASSERT_TRUE(numbers);
        Echo e;
        std::thread waiter([&] { e = send(h, silent, 56, 32, 1500); });
        // The request has taken its sequence number: it is under way.
        while (NextEchoNumbers(h)->sequence == numbers->sequence)
            std::this_thread::yield();
        EXPECT_TRUE(IcmpCloseHandle(h));
        // Something reaches the socket after the close: the waiter reads it.
        EXPECT_TRUE(ForgeLoopbackReply(numbers->ident, numbers->sequence));
        IcmpHandle other = IcmpCreateFile();
        EXPECT_EQ(send(other, "127.0.0.1", 56).count, 1u) << "a new handle is not disturbed";
        waiter.join();
        EXPECT_TRUE(IcmpCloseHandle(other));
        EXPECT_EQ(e.count, 0u);
        EXPECT_EQ(e.error, 11010u);
        EXPECT_FALSE(IcmpCloseHandle(h)) << "the handle stays closed";
        SeedIdentifiersForTesting(std::nullopt);
    }
    CloseIdleSockets();
}

TEST(IcmpHandles, UnknownHandlesAreRefused) {
    std::uint8_t buffer[64];
    TIpOptions options;
    options.Ttl = 1;
    EXPECT_EQ(IcmpSendEcho(12345, Ip("127.0.0.1"), buffer, 8, &options, buffer, 64, 10), 0u);
    EXPECT_EQ(platform::GetLastError(), 6u);
    EXPECT_FALSE(IcmpCloseHandle(12345));
}

} // namespace

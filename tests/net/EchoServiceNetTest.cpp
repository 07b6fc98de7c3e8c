// The ICMP echo service and the system's resolver against a real routed
// network, for IPv4 and IPv6 on each kind of socket: routers that report
// expired TTLs (hop limits) and unreachable nets, a host that never
// answers, a blackholed net, a forger, a link-local neighbour, and a local
// DNS server with A and AAAA records.
#include "echo/IcmpBinding.h"
#include "platform/IcmpPacket.h"
#include "platform/IcmpService.h"
#include "platform/LastError.h"
#include "platform/NameService.h"
#include "platform/WinSock.h"
#include "support/FakeIcmpService.h"
#include "support/ForgerNode.h"
#include "support/IpFamily.h"
#include "support/RoutedNetworkOn.h"
#include "support/TestNetwork.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace netsonde::test;
using platform::linuxicmp::SocketKind;
namespace icmppacket = platform::icmppacket;

namespace {

const bool network = (RequestTestNetwork(), true);

template <class T> class EchoServiceNet : public RoutedNetworkOn<T> {};
TYPED_TEST_SUITE(EchoServiceNet, FamiliesOnEachSocketKind);

TYPED_TEST(EchoServiceNet, EachHopReportsAndTheDestinationAnswers) {
    for (int hop = 1; hop <= 3; ++hop) {
        auto r = this->Echo(TypeParam::Far, static_cast<std::uint8_t>(hop));
        ASSERT_EQ(r.status, 0) << "hop " << hop;
        EXPECT_EQ(r.reply.Status, 11013u) << "hop " << hop;
        EXPECT_EQ(TypeParam::Text(r.reply.Address), TypeParam::Routers[hop - 1]) << "hop " << hop;
    }
    auto r = this->Echo(TypeParam::Far, 4);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.reply.Status, 0u);
    EXPECT_EQ(TypeParam::Text(r.reply.Address), TypeParam::Far);
    EXPECT_EQ(r.reply.DataSize, 56);
    EXPECT_EQ(r.reply.Options.Ttl, 61) << "sent with 64, three routers on the way back";
}

TYPED_TEST(EchoServiceNet, RoutersReportUnreachableDestinationsEveryTime) {
    // Many in a row: the router's reports are not rate limited.
    for (int i = 0; i < 10; ++i) {
        auto host = this->Echo(TypeParam::HostUnreachable, 32);
        ASSERT_EQ(host.status, 0) << "round " << i;
        EXPECT_EQ(host.reply.Status, 11003u);
        EXPECT_EQ(TypeParam::Text(host.reply.Address), TypeParam::Routers[1]);
        auto noRoute = this->Echo(TypeParam::NetUnreachable, 32);
        ASSERT_EQ(noRoute.status, 0) << "round " << i;
        EXPECT_EQ(noRoute.reply.Status, 11002u);
        EXPECT_EQ(TypeParam::Text(noRoute.reply.Address), TypeParam::Routers[1]);
    }
}

TYPED_TEST(EchoServiceNet, SilentAndBlackholedDestinationsTimeOut) {
    for (const char* silent : {TypeParam::Quiet, TypeParam::Blackholed}) {
        auto r = this->Echo(silent, 32, 300);
        EXPECT_EQ(r.status, 11010) << silent;
        EXPECT_TRUE(r.untouched) << silent << ": the reply record stays untouched";
    }
}

// How a forger that cannot see our request guesses: every step-th
// identifier with each of the first sequence numbers, and, seeing it, sends
// its numbers once every seeingEvery guesses. IPv6 packets cost more to
// forge (their checksum covers both addresses), so the IPv6 forger guesses
// more sparsely to keep up the same pace.
template <class Family> struct Guesses;
template <> struct Guesses<Family4> {
    static constexpr std::uint32_t step = 1, seeingEvery = 512;
    static constexpr std::uint16_t sequences = 2;
};
template <> struct Guesses<Family6> {
    static constexpr std::uint32_t step = 7, seeingEvery = 511;
    static constexpr std::uint16_t sequences = 1;
};

TYPED_TEST(EchoServiceNet, ASilentHostStaysSilentWhileAnotherHostForgesItsAnswers) {
    using Forger = EchoReplyForger<typename TypeParam::Family>;
    using G = Guesses<typename TypeParam::Family>;
    Forger forger;
    ASSERT_TRUE(forger.Ready());
    std::optional<platform::linuxicmp::EchoNumbers> next;
    IcmpHandle h = HandleOutOfBlindReach([] { return BoundCreate(TypeParam{}); }, next);
    ASSERT_NE(h, InvalidIcmpHandle);
    ASSERT_TRUE(next);
    const std::vector<std::uint8_t> ours(56, 0xAA), other(56, 0xAB);
    const platform::linuxicmp::EchoNumbers n = *next;
    forger.Repeat([&](Forger& f) {
        for (std::uint32_t ident = 0; ident < 65536; ident += G::step) {
            // Blind: identifiers with the first sequence numbers, in the
            // silent host's name.
            for (std::uint16_t sequence = 1; sequence <= G::sequences; ++sequence)
                f.Send(TypeParam::Quiet, static_cast<std::uint16_t>(ident), sequence, ours);
            // Seeing our request: its numbers, from the forger's own
            // address, or in the silent host's name with other data.
            if (ident % G::seeingEvery == 0) {
                f.Send(TypeParam::Forger, n.ident, n.sequence, ours);
                f.Send(TypeParam::Quiet, n.ident, n.sequence, other);
            }
        }
    });
    TIpOptions options;
    options.Ttl = 32;
    typename TypeParam::Reply reply{};
    int status = BoundEcho(h, options, reply, TypeParam::Quiet, 56, 1000);
    forger.Stop();
    EXPECT_EQ(status, 11010) << "answered from " << TypeParam::Text(reply.Address);

    // An exact copy of what the silent host would send cannot be told apart;
    // it shows that the forger's packets do reach us.
    next = platform::linuxicmp::NextEchoNumbers(h);
    ASSERT_TRUE(next);
    Forger copier;
    copier.Repeat([&, m = *next](Forger& f) {
        f.Send(TypeParam::Quiet, m.ident, m.sequence, ours);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    status = BoundEcho(h, options, reply, TypeParam::Quiet, 56, 2000);
    copier.Stop();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reply.Status, 0u);
    IcmpCloseHandle(h);
}

// IPv6 alone has link-local neighbours, reached through their zone.
template <class T> class EchoServiceNet6 : public RoutedNetworkOn<T> {};
TYPED_TEST_SUITE(EchoServiceNet6, Ipv6OnEachSocketKind);

TYPED_TEST(EchoServiceNet6, ALinkLocalNeighbourAnswersThroughItsZone) {
    auto r = this->Echo(net::R1LinkLocal, 1);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.reply.Status, 0u);
    EXPECT_EQ(TypeParam::Text(r.reply.Address), net::R1LinkLocal);
    EXPECT_EQ(r.reply.Options.Ttl, 64);
}

TEST(LocalDns, NamesResolveForwardAndBackOnlyInsideTheTestNetwork) {
    if (!InTestNetwork()) {
        GTEST_SKIP() << TestNetworkProblem();
    }
    hostent entry{};
    hostent* found = nullptr;
    char buffer[4096];
    int error = 0;
    ASSERT_EQ(gethostbyname_r("far.nsd.test", &entry, buffer, sizeof buffer, &found, &error), 0);
    ASSERT_NE(found, nullptr);
    in_addr a;
    std::memcpy(&a, found->h_addr_list[0], 4);
    EXPECT_STREQ(inet_ntoa(a), net::Far);

    in_addr_t r2 = Ip(net::R2);
    ASSERT_EQ(gethostbyaddr_r(&r2, 4, AF_INET, &entry, buffer, sizeof buffer, &found, &error), 0);
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->h_name, "r2.nsd.test");

    gethostbyname_r("nosuch.nsd.test", &entry, buffer, sizeof buffer, &found, &error);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(error, HOST_NOT_FOUND);

    in_addr_t noName = Ip(net::FarNoName);
    gethostbyaddr_r(&noName, 4, AF_INET, &entry, buffer, sizeof buffer, &found, &error);
    EXPECT_EQ(found, nullptr) << "an address without a reverse name";
}

TEST(LocalDns6, NamesTakeTheSystemsAddressSelection) {
    if (!InTestNetwork()) {
        GTEST_SKIP() << TestNetworkProblem();
    }
    platform::SystemNameService names;
    platform::HostRecord r;
    ASSERT_EQ(names.ByName("six.nsd.test", r), 0);
    EXPECT_TRUE(r.addresses.empty());
    ASSERT_FALSE(r.addresses6.empty());
    TIpv6Address a;
    std::memcpy(a.Bytes, r.addresses6[0].data(), 16);
    EXPECT_EQ(Family6::Text(a), net::Far6);
    // A name with both records goes where the system's selection puts it:
    // on this dual-stack client, IPv6 first.
    ASSERT_EQ(names.ByName("dual.nsd.test", r), 0);
    ASSERT_FALSE(r.addresses6.empty());
    ASSERT_EQ(names.ByName("far.nsd.test", r), 0) << "a name with an A record only";
    EXPECT_EQ(r.addresses.size(), 1u);
    EXPECT_TRUE(r.addresses6.empty());
    EXPECT_EQ(names.ByName("nosuch.nsd.test", r), 11001);

    std::array<std::uint8_t, 16> r2;
    std::memcpy(r2.data(), Family6::Service(net::R2_6).Bytes, 16);
    ASSERT_EQ(names.ByAddr6(r2, 0, r), 0);
    EXPECT_EQ(r.name, "r2.nsd.test");
    std::array<std::uint8_t, 16> noName;
    std::memcpy(noName.data(), Family6::Service(net::FarNoName6).Bytes, 16);
    EXPECT_EQ(names.ByAddr6(noName, 0, r), 11001);
}

// Raw handles of a family share one socket; every request on it must get
// exactly its own answer, whatever arrives for the others meanwhile.
class SharedRawPath : public testing::Test {
protected:
    void SetUp() override {
        if (!InTestNetwork()) {
            GTEST_SKIP() << TestNetworkProblem();
        }
        platform::linuxicmp::PreferRawSockets(true);
        platform::linuxicmp::CloseIdleSockets();
        binding.emplace();
        ASSERT_TRUE(IcmpAvailable());
    }
    void TearDown() override {
        binding.reset();
        platform::linuxicmp::PreferRawSockets(false);
        platform::linuxicmp::CloseIdleSockets();
    }
    std::optional<IcmpBindingScope> binding;
};

TEST_F(SharedRawPath, SixtyFourRequestsAtOnceEachGetTheirOwnAnswer) {
    // Answers, silence, routers' reports and IPv6 beside IPv4, all in flight
    // together as a look-ahead Check All has them.
    constexpr int kRequests = 64;
    struct Outcome {
        int count = -1;
        std::uint32_t error = 0;
        std::uint32_t status = 0;
        std::string address;
        std::vector<std::uint8_t> data;
    };
    std::vector<Outcome> outcomes(kRequests);
    std::vector<IcmpHandle> handles(kRequests);
    for (int i = 0; i < kRequests; ++i) {
        handles[i] = i % 8 >= 6 ? Icmp6CreateFile() : IcmpCreateFile();
        ASSERT_NE(handles[i], InvalidIcmpHandle);
        ASSERT_EQ(platform::linuxicmp::HandleSocketKind(handles[i]), SocketKind::Raw);
    }
    std::atomic<int> ready{0};
    auto run = [&](int i) {
        std::vector<std::uint8_t> request(20 + i, static_cast<std::uint8_t>(i));
        std::vector<std::uint8_t> buffer(sizeof(TEcho6Reply) + request.size());
        TIpOptions options;
        options.Ttl = i % 8 == 5 ? 2 : 32;
        Outcome& o = outcomes[i];
        ++ready;
        while (ready.load() < kRequests)
            std::this_thread::yield();
        if (i % 8 >= 6) {
            TIpv6Address to;
            platform::inet_addr6(i % 8 == 6 ? net::Far6 : net::NetUnreachable6, to);
            o.count = static_cast<int>(platform::linuxicmp::Icmp6SendEcho(
                handles[i], &to, request.data(), static_cast<std::uint16_t>(request.size()),
                &options, buffer.data(), static_cast<std::uint32_t>(buffer.size()), 3000));
            TEcho6Reply reply;
            std::memcpy(&reply, buffer.data(), sizeof reply);
            o.status = reply.Status;
            o.address = platform::inet_ntoa6(reply.Address);
            o.data.assign(buffer.begin() + sizeof reply, buffer.end());
        } else {
            const char* to = i % 8 == 3 ? net::Quiet : i % 8 == 4 ? net::NetUnreachable : net::Far;
            o.count = static_cast<int>(platform::linuxicmp::IcmpSendEcho(
                handles[i], Ip(to), request.data(), static_cast<std::uint16_t>(request.size()),
                &options, buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                i % 8 == 3 ? 500 : 3000));
            TEchoReply reply;
            std::memcpy(&reply, buffer.data(), sizeof reply);
            o.status = reply.Status;
            in_addr a{reply.Address};
            o.address = inet_ntoa(a);
            o.data.assign(buffer.begin() + sizeof reply, buffer.begin() + sizeof reply + 20 + i);
        }
        o.error = platform::GetLastError();
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < kRequests; ++i)
        threads.emplace_back(run, i);
    for (auto& t : threads)
        t.join();
    for (IcmpHandle h : handles)
        IcmpCloseHandle(h);

    for (int i = 0; i < kRequests; ++i) {
        const Outcome& o = outcomes[i];
        SCOPED_TRACE("request " + std::to_string(i));
        const std::vector<std::uint8_t> own(20 + i, static_cast<std::uint8_t>(i));
        switch (i % 8) {
        case 3:
            EXPECT_EQ(o.count, 0);
            EXPECT_EQ(o.error, 11010u);
            break;
        case 4:
        case 7:
            ASSERT_EQ(o.count, 1);
            EXPECT_EQ(o.status, 11002u);
            EXPECT_EQ(o.address, i % 8 == 4 ? net::R2 : net::R2_6);
            break;
        case 5:
            ASSERT_EQ(o.count, 1);
            EXPECT_EQ(o.status, 11013u) << "its own TTL of 2, not another request's";
            EXPECT_EQ(o.address, net::R2);
            break;
        default:
            ASSERT_EQ(o.count, 1) << "error " << o.error;
            EXPECT_EQ(o.status, 0u);
            EXPECT_EQ(o.address, i % 8 == 6 ? net::Far6 : net::Far);
            EXPECT_EQ(o.data, own) << "its own data, not another request's";
        }
    }
}

TEST_F(SharedRawPath, ForgedAndOtherRequestsAnswersAreNeverCounted) {
    // Sixteen requests wait on a silent host. The forger sends each one's
    // numbers from its own address, and in the silent host's name with the
    // data of another of the requests; only for one request does it send
    // an exact copy of the answer, which that request alone may take.
    constexpr int kRequests = 16, kLucky = 5;
    using Forger = EchoReplyForger<Family4>;
    Forger forger;
    ASSERT_TRUE(forger.Ready());
    std::vector<IcmpHandle> handles(kRequests);
    std::vector<platform::linuxicmp::EchoNumbers> numbers(kRequests);
    std::vector<std::vector<std::uint8_t>> data(kRequests);
    for (int i = 0; i < kRequests; ++i) {
        handles[i] = IcmpCreateFile();
        ASSERT_NE(handles[i], InvalidIcmpHandle);
        auto next = platform::linuxicmp::NextEchoNumbers(handles[i]);
        ASSERT_TRUE(next);
        numbers[i] = *next;
        data[i].assign(56, static_cast<std::uint8_t>(0x10 + i));
    }
    std::vector<int> counts(kRequests, -1);
    std::vector<TEchoReply> replies(kRequests);
    std::vector<std::thread> threads;
    for (int i = 0; i < kRequests; ++i) {
        threads.emplace_back([&, i] {
            std::vector<std::uint8_t> buffer(sizeof(TEchoReply) + 56);
            TIpOptions options;
            options.Ttl = 32;
            counts[i] = static_cast<int>(platform::linuxicmp::IcmpSendEcho(
                handles[i], Ip(net::Quiet), data[i].data(), 56, &options, buffer.data(),
                static_cast<std::uint32_t>(buffer.size()), 1500));
            std::memcpy(&replies[i], buffer.data(), sizeof(TEchoReply));
        });
    }
    while (platform::linuxicmp::WaitingRawRequests() < kRequests)
        std::this_thread::yield();
    forger.Repeat([&](Forger& f) {
        for (int i = 0; i < kRequests; ++i) {
            f.Send(net::Forger, numbers[i].ident, numbers[i].sequence, data[i]);
            f.Send(net::Quiet, numbers[i].ident, numbers[i].sequence, data[(i + 1) % kRequests]);
        }
        f.Send(net::Quiet, numbers[kLucky].ident, numbers[kLucky].sequence, data[kLucky]);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    for (auto& t : threads)
        t.join();
    forger.Stop();
    for (IcmpHandle h : handles)
        IcmpCloseHandle(h);
    for (int i = 0; i < kRequests; ++i) {
        if (i == kLucky) {
            ASSERT_EQ(counts[i], 1) << "the exact copy reached its request";
            EXPECT_EQ(replies[i].Status, 0u);
            EXPECT_EQ(replies[i].Address, Ip(net::Quiet));
        } else {
            EXPECT_EQ(counts[i], 0) << "request " << i << " answered from " << replies[i].Address;
        }
    }
}

} // namespace

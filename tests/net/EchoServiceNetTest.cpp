// The ICMP echo service and the system's resolver against a real routed
// network: routers that report expired TTLs and unreachable nets, a host
// that never answers, and a local DNS server.
#include "echo/IcmpBinding.h"
#include "platform/IcmpService.h"
#include "support/FakeIcmpService.h"
#include "support/TestNetwork.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>
#include <optional>

using namespace netsonde::test;
using platform::linuxicmp::SocketKind;

namespace {

const bool network = (RequestTestNetwork(), true);

class RoutedNetwork : public testing::TestWithParam<SocketKind> {
protected:
    void SetUp() override {
        if (!InTestNetwork()) {
            GTEST_SKIP() << TestNetworkProblem();
        }
        platform::linuxicmp::PreferRawSockets(GetParam() == SocketKind::Raw);
        binding.emplace();
        ASSERT_TRUE(IcmpAvailable());
    }
    void TearDown() override {
        binding.reset();
        platform::linuxicmp::PreferRawSockets(false);
    }

    struct Result {
        int status;
        TEchoReply reply;
    };
    Result Echo(const char* to, std::uint8_t ttl, std::uint16_t timeout = 1000) {
        IcmpHandle h = IcmpCreateFile();
        EXPECT_NE(h, InvalidIcmpHandle);
        EXPECT_EQ(platform::linuxicmp::HandleSocketKind(h), GetParam());
        TIpOptions options;
        options.Ttl = ttl;
        Result r{};
        r.reply.Address = 0xFFFFFFFF;
        r.status = EchoRequest(h, options, r.reply, Ip(to), 56, timeout);
        IcmpCloseHandle(h);
        return r;
    }

    std::optional<IcmpBindingScope> binding;
};

TEST_P(RoutedNetwork, EachHopReportsAndTheDestinationAnswers) {
    const char* routers[] = {net::R1, net::R2, net::R3};
    for (int hop = 1; hop <= 3; ++hop) {
        Result r = Echo(net::Far, static_cast<std::uint8_t>(hop));
        ASSERT_EQ(r.status, 0) << "hop " << hop;
        EXPECT_EQ(r.reply.Status, 11013u) << "hop " << hop;
        EXPECT_EQ(r.reply.Address, Ip(routers[hop - 1])) << "hop " << hop;
    }
    Result r = Echo(net::Far, 4);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.reply.Status, 0u);
    EXPECT_EQ(r.reply.Address, Ip(net::Far));
    EXPECT_EQ(r.reply.DataSize, 56);
    EXPECT_EQ(r.reply.Options.Ttl, 252) << "sent with 255, three routers on the way back";
}

TEST_P(RoutedNetwork, RoutersReportUnreachableDestinations) {
    Result host = Echo(net::HostUnreachable, 32);
    ASSERT_EQ(host.status, 0);
    EXPECT_EQ(host.reply.Status, 11003u);
    EXPECT_EQ(host.reply.Address, Ip(net::R2));
    Result netw = Echo(net::NetUnreachable, 32);
    ASSERT_EQ(netw.status, 0);
    EXPECT_EQ(netw.reply.Status, 11002u);
    EXPECT_EQ(netw.reply.Address, Ip(net::R2));
}

TEST_P(RoutedNetwork, ASilentHostTimesOut) {
    Result r = Echo(net::Quiet, 32, 300);
    EXPECT_EQ(r.status, 11010);
    EXPECT_EQ(r.reply.Address, 0xFFFFFFFFu) << "the reply record stays untouched";
}

INSTANTIATE_TEST_SUITE_P(Kinds, RoutedNetwork,
                         testing::Values(SocketKind::Datagram, SocketKind::Raw),
                         [](const auto& info) {
                             return info.param == SocketKind::Raw ? "Raw" : "Datagram";
                         });

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

} // namespace

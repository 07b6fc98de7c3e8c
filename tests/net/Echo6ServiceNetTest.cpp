// The IPv6 echo call and the system's resolver on the routed test network:
// routers reporting expired hop limits and unreachable nets, a blackholed
// net, a silent host, a forger, a link-local neighbour, AAAA records.
#include "echo/IcmpBinding.h"
#include "platform/IcmpPacket.h"
#include "platform/IcmpService.h"
#include "platform/NameService.h"
#include "platform/WinSock.h"
#include "support/ForgerNode.h"
#include "support/RoutedNetworkOfEachKind.h"
#include "support/TestNetwork.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <unistd.h>

using namespace netsonde::test;
using platform::linuxicmp::SocketKind;
namespace icmppacket = platform::icmppacket;

namespace {

const bool network = (RequestTestNetwork(), true);

TIpv6Address Ip6(const char* text) {
    TIpv6Address a;
    EXPECT_TRUE(platform::inet_addr6(text, a)) << text;
    return a;
}

std::string Text(const TIpv6Address& a) {
    return platform::inet_ntoa6(a);
}

class RoutedNetwork6 : public RoutedNetworkOfEachKind {
protected:
    using Result = Outcome<TEcho6Reply>;
    Result Echo(const char* to, std::uint8_t hops, std::uint16_t timeout = 1000) {
        return EchoOnNewHandle<TEcho6Reply>(
            Icmp6CreateFile, hops,
            [&](IcmpHandle h, const TIpOptions& options, TEcho6Reply& reply) {
                return EchoRequest6(h, options, reply, to, timeout);
            });
    }
    static int EchoRequest6(IcmpHandle h, const TIpOptions& options, TEcho6Reply& reply,
                            const char* to, std::uint16_t timeout) {
        return Echo6Request(h, options, reply, Ip6(to), 56, timeout);
    }
};

TEST_P(RoutedNetwork6, EachHopReportsAndTheDestinationAnswers) {
    const char* routers[] = {net::R1_6, net::R2_6, net::R3_6};
    for (int hop = 1; hop <= 3; ++hop) {
        Result r = Echo(net::Far6, static_cast<std::uint8_t>(hop));
        ASSERT_EQ(r.status, 0) << "hop " << hop;
        EXPECT_EQ(r.reply.Status, 11013u) << "hop " << hop;
        EXPECT_EQ(Text(r.reply.Address), routers[hop - 1]) << "hop " << hop;
    }
    Result r = Echo(net::Far6, 4);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.reply.Status, 0u);
    EXPECT_EQ(Text(r.reply.Address), net::Far6);
    EXPECT_EQ(r.reply.DataSize, 56);
    EXPECT_EQ(r.reply.Options.Ttl, 61) << "sent with 64, three routers on the way back";
}

TEST_P(RoutedNetwork6, RoutersReportUnreachableDestinationsEveryTime) {
    for (int i = 0; i < 10; ++i) {
        Result host = Echo(net::HostUnreachable6, 32);
        ASSERT_EQ(host.status, 0) << "round " << i;
        EXPECT_EQ(host.reply.Status, 11003u);
        EXPECT_EQ(Text(host.reply.Address), net::R2_6);
        Result noRoute = Echo(net::NetUnreachable6, 32);
        ASSERT_EQ(noRoute.status, 0) << "round " << i;
        EXPECT_EQ(noRoute.reply.Status, 11002u);
        EXPECT_EQ(Text(noRoute.reply.Address), net::R2_6);
    }
}

TEST_P(RoutedNetwork6, SilentAndBlackholedDestinationsTimeOut) {
    for (const char* silent : {net::Quiet6, net::Blackholed6}) {
        Result r = Echo(silent, 32, 300);
        EXPECT_EQ(r.status, 11010) << silent;
    }
}

TEST_P(RoutedNetwork6, ALinkLocalNeighbourAnswersThroughItsZone) {
    Result r = Echo(net::R1LinkLocal, 1);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.reply.Status, 0u);
    EXPECT_EQ(Text(r.reply.Address), net::R1LinkLocal);
    EXPECT_EQ(r.reply.Options.Ttl, 64);
}

// Sends ICMPv6 echo replies to the client from the forger node, in any
// name: whole IPv6 packets with their checksums.
class Forger6 : public ForgerNode<Forger6> {
public:
    Forger6() : ForgerNode(AF_INET6) {}
    ~Forger6() { Stop(); }
    void Send(const char* source, std::uint16_t ident, std::uint16_t sequence,
              const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> icmp = icmppacket::BuildEcho6Request(ident, sequence, data);
        icmp[0] = icmppacket::Echo6Reply;
        TIpv6Address from = Ip6(source), to = Ip6(net::Client6);
        // The checksum covers a pseudo-header of both addresses, the
        // length and the next header.
        std::vector<std::uint8_t> pseudo(from.Bytes, from.Bytes + 16);
        pseudo.insert(pseudo.end(), to.Bytes, to.Bytes + 16);
        std::uint32_t length = static_cast<std::uint32_t>(icmp.size());
        pseudo.insert(pseudo.end(), {static_cast<std::uint8_t>(length >> 24),
                                     static_cast<std::uint8_t>(length >> 16),
                                     static_cast<std::uint8_t>(length >> 8),
                                     static_cast<std::uint8_t>(length), 0, 0, 0, IPPROTO_ICMPV6});
        pseudo.insert(pseudo.end(), icmp.begin(), icmp.end());
        std::uint16_t sum = icmppacket::Checksum(pseudo);
        icmp[2] = static_cast<std::uint8_t>(sum >> 8);
        icmp[3] = static_cast<std::uint8_t>(sum);
        std::vector<std::uint8_t> packet(40, 0);
        packet[0] = 0x60;
        packet[4] = static_cast<std::uint8_t>(length >> 8);
        packet[5] = static_cast<std::uint8_t>(length);
        packet[6] = IPPROTO_ICMPV6;
        packet[7] = 255;
        std::memcpy(&packet[8], from.Bytes, 16);
        std::memcpy(&packet[24], to.Bytes, 16);
        packet.insert(packet.end(), icmp.begin(), icmp.end());
        sockaddr_in6 dest{};
        dest.sin6_family = AF_INET6;
        std::memcpy(&dest.sin6_addr, to.Bytes, 16);
        ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&dest),
                 sizeof dest);
    }
};

TEST_P(RoutedNetwork6, ForgedRepliesNeverCountButAnExactCopyArrives) {
    Forger6 forger;
    ASSERT_TRUE(forger.Ready());
    std::optional<platform::linuxicmp::EchoNumbers> next;
    IcmpHandle h = HandleOutOfBlindReach(Icmp6CreateFile, next);
    ASSERT_NE(h, InvalidIcmpHandle);
    ASSERT_TRUE(next);
    const std::vector<std::uint8_t> ours(56, 0xAA), other(56, 0xAB);
    const platform::linuxicmp::EchoNumbers n = *next;
    forger.Repeat([&](Forger6& f) {
        for (std::uint32_t ident = 0; ident < 65536; ident += 7) {
            // Blind guesses in the silent host's name, and, seeing our
            // request, its numbers from the forger's own address or with
            // other data.
            f.Send(net::Quiet6, static_cast<std::uint16_t>(ident), 1, ours);
            if (ident % 511 == 0) {
                f.Send(net::Forger6, n.ident, n.sequence, ours);
                f.Send(net::Quiet6, n.ident, n.sequence, other);
            }
        }
    });
    TIpOptions options;
    options.Ttl = 32;
    TEcho6Reply reply{};
    int status = Echo6Request(h, options, reply, Ip6(net::Quiet6), 56, 1000);
    forger.Stop();
    EXPECT_EQ(status, 11010) << "answered from " << Text(reply.Address);

    // An exact copy of the silent host's answer cannot be told apart; it
    // shows that the forged packets do reach us.
    next = platform::linuxicmp::NextEchoNumbers(h);
    ASSERT_TRUE(next);
    Forger6 copier;
    copier.Repeat([&, m = *next](Forger6& f) {
        f.Send(net::Quiet6, m.ident, m.sequence, ours);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    status = Echo6Request(h, options, reply, Ip6(net::Quiet6), 56, 2000);
    copier.Stop();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reply.Status, 0u);
    IcmpCloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(Kinds, RoutedNetwork6,
                         testing::Values(SocketKind::Datagram, SocketKind::Raw),
                         [](const auto& info) {
                             return info.param == SocketKind::Raw ? "Raw" : "Datagram";
                         });

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
    EXPECT_EQ(Text(a), net::Far6);
    // A name with both records goes where the system's selection puts it:
    // on this dual-stack client, IPv6 first.
    ASSERT_EQ(names.ByName("dual.nsd.test", r), 0);
    ASSERT_FALSE(r.addresses6.empty());
    ASSERT_EQ(names.ByName("far.nsd.test", r), 0) << "a name with an A record only";
    EXPECT_EQ(r.addresses.size(), 1u);
    EXPECT_TRUE(r.addresses6.empty());
    EXPECT_EQ(names.ByName("nosuch.nsd.test", r), 11001);

    std::array<std::uint8_t, 16> r2;
    std::memcpy(r2.data(), Ip6(net::R2_6).Bytes, 16);
    ASSERT_EQ(names.ByAddr6(r2, 0, r), 0);
    EXPECT_EQ(r.name, "r2.nsd.test");
    std::array<std::uint8_t, 16> noName;
    std::memcpy(noName.data(), Ip6(net::FarNoName6).Bytes, 16);
    EXPECT_EQ(names.ByAddr6(noName, 0, r), 11001);
}

} // namespace

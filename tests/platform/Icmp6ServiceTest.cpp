// The IPv6 echo call on real sockets, in the private network namespace, on
// datagram and on raw sockets.
#include "platform/IcmpService.h"
#include "platform/LastError.h"
#include "platform/WinSock.h"
#include "support/EchoCall.h"
#include "support/PrivateNetwork.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace platform::linuxicmp;

namespace {

const bool privateNetwork = (netsonde::test::RequestPrivateNetwork(), true);

TIpv6Address Ip6(const char* text) {
    TIpv6Address a;
    EXPECT_TRUE(platform::inet_addr6(text, a)) << text;
    return a;
}

using Echo6 = netsonde::test::EchoCall<TEcho6Reply>;

Echo6 send6(IcmpHandle h, const char* to, std::uint16_t size, std::uint8_t hops = 32,
            std::uint32_t timeout = 2000, std::uint8_t fill = 0xAA) {
    TIpv6Address destination = Ip6(to);
    return netsonde::test::CallEcho<TEcho6Reply>(size, hops, fill, [&](auto... request) {
        return Icmp6SendEcho(h, &destination, request..., timeout);
    });
}

class Icmp6Sockets : public netsonde::test::HandleOfEachKind {
protected:
    Icmp6Sockets() : HandleOfEachKind(Icmp6CreateFile, "ICMPv6") {}
};

TEST_P(Icmp6Sockets, LoopbackAnswersWithTheDataItWasSentAndItsHopLimit) {
    for (std::uint16_t size : {8, 56, 8000}) {
        Echo6 e = send6(handle, "::1", size);
        ASSERT_EQ(e.count, 1u) << "size " << size << " error " << e.error;
        EXPECT_EQ(e.reply.Status, 0u);
        EXPECT_EQ(platform::inet_ntoa6(e.reply.Address), "::1");
        EXPECT_EQ(e.reply.DataSize, size);
        EXPECT_EQ(e.reply.Options.Ttl, 64) << "the kernel answers with its default hop limit";
        EXPECT_EQ(e.data, std::vector<std::uint8_t>(size, 0xAA));
    }
}

TEST_P(Icmp6Sockets, ALateReplyNeverReachesTheNextRequest) {
    Echo6 first = send6(handle, "::1", 100, 32, 0);
    EXPECT_EQ(first.count, 0u);
    EXPECT_EQ(first.error, 11010u);
    Echo6 second = send6(handle, "::1", 300, 32, 2000, 0x55);
    ASSERT_EQ(second.count, 1u);
    EXPECT_EQ(second.data, std::vector<std::uint8_t>(300, 0x55));
}

TEST_P(Icmp6Sockets, RequestsThatCannotGoFailWithTheIpv4Codes) {
    EXPECT_EQ(send6(handle, "2001:db8::1", 56).error, 11002u) << "no route";
    EXPECT_EQ(send6(handle, "::1", 56, 0).error, 11007u) << "hop limit 0 cannot be sent";
    EXPECT_EQ(send6(handle, "::1", 65535).error, 11009u);
    // The families do not mix: an IPv6 handle takes no IPv4 request.
    std::uint8_t buffer[64] = {};
    TIpOptions options;
    options.Ttl = 8;
    EXPECT_EQ(IcmpSendEcho(handle, 0x0100007F, buffer, 8, &options, buffer, 64, 10), 0u);
    EXPECT_EQ(platform::GetLastError(), 6u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Icmp6Sockets,
                         testing::Values(SocketKind::Datagram, SocketKind::Raw),
                         [](const auto& info) {
                             return info.param == SocketKind::Raw ? "Raw" : "Datagram";
                         });

TEST(Ipv6Texts, LiteralsWithZonesAndTheirCanonicalText) {
    const struct {
        const char* in;
        const char* canonical;
    } cases[] = {
        {"::1", "::1"},
        {"FD00:0012:0000:0000:0000:0000:0000:0001", "fd00:12::1"},
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},    // the first of equal runs
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"}, // one zero group stays
        {"::", "::"},
        {"::ffff:10.1.2.3", "::ffff:10.1.2.3"},
        {"fe80::1%lo", "fe80::1%lo"},
        {"fe80::1%1", "fe80::1%lo"},
    };
    for (const auto& c : cases) {
        TIpv6Address a;
        ASSERT_TRUE(platform::inet_addr6(c.in, a)) << c.in;
        EXPECT_EQ(platform::inet_ntoa6(a), c.canonical) << c.in;
    }
    TIpv6Address a;
    for (const char* bad : {"", "1.2.3.4", "fd00::1::2", "fe80::1%", "fe80::1%nosuchif0",
                            "fd00:12:", "host.example", "::1 "})
        EXPECT_FALSE(platform::inet_addr6(bad, a)) << bad;
}

} // namespace

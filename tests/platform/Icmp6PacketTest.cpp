// What the ICMPv6 parsers alone do (IcmpPacketTest.cpp runs the cases of
// both families): the checksum left to the kernel, the errors that a raw
// IPv6 socket receives as messages, the error mapping, and a seeded
// random-input loop over the fuzz targets' entry points.
#include "fuzz/PacketFuzz.h"
#include "platform/IcmpPacket.h"
#include "platform/IcmpTypes.h"
#include "support/RandomPackets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>

using namespace platform::icmppacket;

namespace {

using Bytes = std::vector<std::uint8_t>;

const Address6 kDest = {0xfd, 0, 0, 0x61, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
const Address6 kRouter = {0xfd, 0, 0, 0x61, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
const Address6 kOther = {0xfd, 0, 0, 0x61, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
const Bytes kData(56, 0xAA);

Request6 ourRequest(bool raw) {
    Request6 r;
    r.destination = kDest;
    r.ident = 0xBEEF;
    r.sequence = 0x4242;
    r.checkIdent = raw;
    r.data = kData;
    return r;
}

Bytes head(Bytes b, std::size_t n) {
    b.resize(n);
    return b;
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes echo(std::uint8_t type, std::uint16_t ident = 0xBEEF, std::uint16_t sequence = 0x4242,
           const Bytes& data = kData) {
    Bytes m = BuildEcho6Request(ident, sequence, data);
    m[0] = type;
    return m;
}

Bytes ipv6Header(const Address6& dest, std::uint8_t next = IPPROTO_ICMPV6) {
    Bytes h(Ipv6HeaderSize, 0);
    h[0] = 0x60;
    h[6] = next;
    h[7] = 1;
    std::copy(dest.begin(), dest.end(), h.begin() + 24);
    return h;
}

// A node's error quoting a request: our IPv6 header and echo request.
Bytes error(std::uint8_t type, std::uint8_t code, const Bytes& quoted) {
    return concat(Bytes{type, code, 0, 0, 0, 0, 0, 0}, quoted);
}
Bytes quote(const Address6& dest = kDest, std::uint16_t ident = 0xBEEF,
            std::uint16_t sequence = 0x4242, std::uint8_t next = IPPROTO_ICMPV6) {
    return concat(ipv6Header(dest, next), echo(Echo6Request, ident, sequence));
}

TEST(Icmp6PacketBuild, EchoRequestLeavesTheChecksumToTheKernel) {
    Bytes m = BuildEcho6Request(0x0102, 0x0304, kData);
    ASSERT_EQ(m.size(), 8 + kData.size());
    EXPECT_EQ((Bytes{m.begin(), m.begin() + 8}), (Bytes{128, 0, 0, 0, 1, 2, 3, 4}));
}

TEST(Icmp6PacketParse, ErrorsArriveAsMessagesOnARawSocket) {
    const struct {
        const char* what;
        Bytes message;
        Address6 source;
        bool raw;
        Verdict verdict;
        std::uint32_t status;
    } rows[] = {
        {"a router's hop limit report", error(3, 0, quote()), kRouter, true, Verdict::Answer,
         IcmpStatus::TtlExpiredTransit},
        {"packet too big", error(2, 0, quote()), kRouter, true, Verdict::Answer,
         IcmpStatus::PacketTooBig},
        {"a neighbour solicitation", error(135, 0, quote()), kRouter, true, Verdict::WrongType, 0},
        {"an error quoting only an IPv6 header", error(3, 0, head(quote(), 47)), kRouter, true,
         Verdict::QuoteTooShort, 0},
        {"an error quoting an IPv4 packet",
         error(3, 0,
               [] {
                   Bytes q = quote();
                   q[0] = 0x45;
                   return q;
               }()),
         kRouter, true, Verdict::QuoteNotOurs, 0},
        {"an error quoting extension headers", error(3, 0, quote(kDest, 0xBEEF, 0x4242, 0)),
         kRouter, true, Verdict::QuoteHasOptions, 0},
        {"an error quoting UDP", error(1, 4, quote(kDest, 0xBEEF, 0x4242, IPPROTO_UDP)), kRouter,
         true, Verdict::QuoteNotOurs, 0},
        {"an error quoting a request to another node", error(1, 3, quote(kOther)), kRouter, true,
         Verdict::QuoteNotOurs, 0},
        {"an error quoting another identifier", error(1, 3, quote(kDest, 0xBEEE)), kRouter, true,
         Verdict::WrongIdent, 0},
        {"an error quoting another sequence", error(1, 3, quote(kDest, 0xBEEF, 0x4243)), kRouter,
         true, Verdict::WrongSequence, 0},
    };
    for (const auto& row : rows) {
        Result6 r = ParseIcmp6Message(row.message, row.source, 61, 0, ourRequest(row.raw));
        EXPECT_EQ(r.verdict, row.verdict) << row.what;
        if (row.verdict != Verdict::Answer)
            continue;
        EXPECT_EQ(r.status, row.status) << row.what;
        EXPECT_EQ(r.address, row.source) << row.what;
        EXPECT_EQ(r.hopLimit, 61) << row.what;
        EXPECT_EQ(r.dataLength, 0u) << row.what;
    }
}

TEST(Icmp6PacketParse, ErrorsMapToTheNearestIpv4Status) {
    const struct {
        std::uint8_t type, code;
        std::uint32_t status;
    } rows[] = {
        {1, 0, 11002}, {1, 1, 11003}, {1, 2, 11002}, {1, 3, 11003}, {1, 4, 11005}, {1, 5, 11003},
        {1, 6, 11002}, {1, 7, 11012}, {1, 8, 11050}, {2, 0, 11009}, {3, 0, 11013}, {3, 1, 11014},
        {4, 0, 11015}, {4, 1, 11004}, {4, 2, 11015}, {129, 0, 0},   {128, 0, 0},   {135, 0, 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Error6Status(row.type, row.code), row.status)
            << int(row.type) << "/" << int(row.code);
}

TEST(Icmp6PacketFuzzLoop, RandomAndMutatedInputsKeepEveryRule) {
    Bytes quoted = concat(ipv6Header(kDest), echo(Echo6Request, 0x1234, 0x5678));
    quoted[24 + 3] = 0x61;
    netsonde::test::FeedRandomPackets(2718,
                                      {concat(Bytes{0x81}, echo(Echo6Reply, 0x1234, 0x5678)),
                                       concat(Bytes{0x82}, error(3, 0, quoted))},
                                      20000, [](const Bytes& input) {
                                          netsonde::fuzz::Icmp6Message(input.data(), input.size());
                                          netsonde::fuzz::ErrorQueue6(input.data(), input.size());
                                      });
}

} // namespace

// The packet parsers of both families: what a socket hands over and what an
// error queue holds, read against the waiting request, one typed table per
// entry point; then the IPv4 raw packets (with their IP header) and the
// ICMPv6 messages that only a raw IPv6 socket sees, one group per reason a
// packet is not our answer; and a seeded random-input loop per family over
// the same entry points as the fuzz targets.
#include "platform/IcmpPacket.h"
#include "fuzz/PacketFuzz.h"
#include "platform/IcmpTypes.h"
#include "support/IpFamily.h"
#include "support/RandomPackets.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>

using namespace platform::icmppacket;
using netsonde::test::Family4;
using netsonde::test::Family6;

namespace {

// ---- Both families ------------------------------------------------------

const std::vector<std::uint8_t> kSent(56, 0xAA);

std::vector<std::uint8_t> Head(std::vector<std::uint8_t> bytes, std::size_t n) {
    bytes.resize(n);
    return bytes;
}

// The request under test: 56 bytes of 0xAA to the routed network's far
// host, identifier 0xBEEF, sequence 0x4242; raw sockets compare the
// identifier, datagram sockets leave it to the kernel.
template <class F> class IcmpPacket : public testing::Test {
protected:
    static typename F::Wire Dest() { return F::ToWire(F::Far); }
    static typename F::Wire Router() { return F::ToWire(F::Routers[1]); }
    static typename F::Wire Other() { return F::ToWire(F::Forger); }
    static typename F::Request Ours(bool raw) {
        return F::EchoRequestTo(Dest(), 0xBEEF, 0x4242, raw, kSent);
    }
    static std::vector<std::uint8_t> Echo(std::uint8_t type, std::uint16_t ident = 0xBEEF,
                                          std::uint16_t sequence = 0x4242,
                                          const std::vector<std::uint8_t>& data = kSent) {
        return F::EchoMessage(type, ident, sequence, data);
    }
};
TYPED_TEST_SUITE(IcmpPacket, netsonde::test::FamilyTypes);

TYPED_TEST(IcmpPacket, EchoRequestCarriesItsTypeNumbersAndData) {
    const std::vector<std::uint8_t> built = TypeParam::BuildRequest(0xBEEF, 0x4242, kSent);
    ASSERT_EQ(built.size(), 64u);
    EXPECT_EQ(built[0], TypeParam::EchoRequestType);
    EXPECT_EQ(built[1], 0);
    EXPECT_EQ((std::vector<std::uint8_t>{built[4], built[5], built[6], built[7]}),
              (std::vector<std::uint8_t>{0xBE, 0xEF, 0x42, 0x42}));
    EXPECT_TRUE(std::equal(kSent.begin(), kSent.end(), built.begin() + 8));
}

TYPED_TEST(IcmpPacket, EachMessageFromASocketAgainstTheRequest) {
    using Bytes = std::vector<std::uint8_t>;
    using T = TestFixture;
    const std::uint8_t reply = TypeParam::EchoReplyType;
    const struct {
        const char* what;
        Bytes message;
        typename TypeParam::Wire source;
        bool raw;
        Verdict verdict;
    } rows[] = {
        {"the destination's reply", T::Echo(reply), T::Dest(), true, Verdict::Answer},
        {"datagram: the kernel checked its own identifier", T::Echo(reply, 7), T::Dest(), false,
         Verdict::Answer},
        {"empty", {}, T::Dest(), false, Verdict::Truncated},
        {"half a header", Head(T::Echo(reply), 7), T::Dest(), false, Verdict::Truncated},
        {"our own request looped back", T::Echo(TypeParam::EchoRequestType), T::Dest(), true,
         Verdict::WrongType},
        {"another query", T::Echo(TypeParam::OtherQueryType), T::Dest(), false, Verdict::WrongType},
        {"another identifier", T::Echo(reply, 0xBEEE), T::Dest(), true, Verdict::WrongIdent},
        {"an earlier sequence", T::Echo(reply, 0xBEEF, 0x4241), T::Dest(), false,
         Verdict::WrongSequence},
        {"a later sequence", T::Echo(reply, 7, 0x4243), T::Dest(), false, Verdict::WrongSequence},
        {"a reply from another node", T::Echo(reply), T::Other(), false, Verdict::WrongSource},
        {"a reply from another node to a raw socket", T::Echo(reply), T::Other(), true,
         Verdict::WrongSource},
        {"a reply from a router", T::Echo(reply), T::Router(), true, Verdict::WrongSource},
        {"a reply with other data", T::Echo(reply, 0xBEEF, 0x4242, Bytes(56, 0xAB)), T::Dest(),
         true, Verdict::WrongData},
        {"a reply with less data", T::Echo(reply, 0xBEEF, 0x4242, Bytes(55, 0xAA)), T::Dest(), true,
         Verdict::WrongData},
        {"a reply with no data", T::Echo(reply, 7, 0x4242, {}), T::Dest(), false,
         Verdict::WrongData},
    };
    for (const auto& row : rows) {
        auto r = TypeParam::ParseMessage(row.message, row.source, 61, T::Ours(row.raw));
        EXPECT_EQ(r.verdict, row.verdict) << row.what;
        if (row.verdict != Verdict::Answer)
            continue;
        EXPECT_EQ(r.status, 0u) << row.what;
        EXPECT_EQ(r.address, row.source) << row.what;
        EXPECT_EQ(TypeParam::Ttl(r), 61) << row.what;
        EXPECT_EQ(r.dataOffset, 8u) << row.what;
        EXPECT_EQ(r.dataLength, kSent.size()) << row.what;
    }
}

TYPED_TEST(IcmpPacket, EachErrorQueueEntryAgainstTheRequest) {
    using Bytes = std::vector<std::uint8_t>;
    using T = TestFixture;
    const std::uint8_t icmp = TypeParam::IcmpOrigin;
    const Bytes ours = T::Echo(TypeParam::EchoRequestType, 99);
    const Bytes reported =
        TypeParam::ErrorControl(icmp, TypeParam::TimeExceededType, 0, T::Router());
    const struct {
        const char* what;
        Bytes control;
        Bytes quoted;
        typename TypeParam::Wire quotedDestination;
        Verdict verdict;
        std::uint32_t status;
    } rows[] = {
        {"a router's time-exceeded report", reported, ours, T::Dest(), Verdict::Answer,
         IcmpStatus::TtlExpiredTransit},
        {"a router's host-unreachable report",
         TypeParam::ErrorControl(icmp, TypeParam::HostUnreachableType,
                                 TypeParam::HostUnreachableCode, T::Router()),
         ours, T::Dest(), Verdict::Answer, IcmpStatus::DestHostUnreachable},
        {"no control data", {}, ours, T::Dest(), Verdict::NotFromIcmp, 0},
        {"only the time-to-live",
         Bytes(reported.begin(), reported.begin() + CMSG_SPACE(sizeof(int))), ours, T::Dest(),
         Verdict::NotFromIcmp, 0},
        {"raised by no ICMP message", TypeParam::ErrorControl(SO_EE_ORIGIN_NONE, 0, 0, T::Router()),
         ours, T::Dest(), Verdict::NotFromIcmp, 0},
        {"the other family's origin",
         TypeParam::ErrorControl(TypeParam::OtherFamilysOrigin, TypeParam::TimeExceededType, 0,
                                 T::Router()),
         ours, T::Dest(), Verdict::NotFromIcmp, 0},
        {"this host refused it",
         TypeParam::ErrorControl(SO_EE_ORIGIN_LOCAL, 0, 0, T::Router()),
         {},
         T::Dest(),
         Verdict::LocalError,
         0},
        {"quoting less than an echo header", reported, Head(ours, 7), T::Dest(),
         Verdict::QuoteTooShort, 0},
        {"quoting a reply", reported, T::Echo(TypeParam::EchoReplyType), T::Dest(),
         Verdict::QuoteNotOurs, 0},
        {"quoting another sequence", reported, T::Echo(TypeParam::EchoRequestType, 99, 0x4241),
         T::Dest(), Verdict::WrongSequence, 0},
        {"quoting a request to another node",
         TypeParam::ErrorControl(icmp, TypeParam::HostUnreachableType,
                                 TypeParam::HostUnreachableCode, T::Router()),
         ours, T::Other(), Verdict::QuoteNotOurs, 0},
        {"a redirect, which answers nothing",
         TypeParam::ErrorControl(icmp, TypeParam::RedirectType, 0, T::Router()), ours, T::Dest(),
         Verdict::WrongType, 0},
    };
    for (const auto& row : rows) {
        Control c = ParseControl(row.control);
        auto r = TypeParam::ParseQueued(row.quoted, c.error, row.quotedDestination, T::Ours(false));
        EXPECT_EQ(r.verdict, row.verdict) << row.what;
        if (r.verdict == Verdict::Answer) {
            EXPECT_EQ(r.status, row.status) << row.what;
            EXPECT_EQ(r.address, T::Router()) << row.what;
            EXPECT_EQ(TypeParam::Ttl(r), 62) << row.what;
        }
        if (r.verdict == Verdict::LocalError) {
            EXPECT_EQ(r.errnum, EMSGSIZE) << row.what;
        }
    }
}

TYPED_TEST(IcmpPacket, ControlDataThatLiesAboutItsLengthsIsCutOff) {
    using Bytes = std::vector<std::uint8_t>;
    Bytes control = TypeParam::ErrorControl(TypeParam::IcmpOrigin, TypeParam::TimeExceededType, 0,
                                            TestFixture::Router());
    // A record claiming more bytes than there are.
    Bytes claims = control;
    std::size_t huge = 1 << 20;
    std::memcpy(claims.data(), &huge, sizeof huge);
    Control c = ParseControl(claims);
    EXPECT_FALSE(c.error.present);
    EXPECT_EQ(c.ttl, 0);
    // The extended error cut short before the offender's address.
    Bytes cut(control.begin(), control.end() - sizeof(typename TypeParam::SockAddr));
    std::size_t shortLength = CMSG_LEN(sizeof(sock_extended_err));
    std::memcpy(cut.data() + CMSG_SPACE(sizeof(int)), &shortLength, sizeof shortLength);
    c = ParseControl(cut);
    EXPECT_TRUE(c.error.present);
    EXPECT_FALSE(c.error.offenderKnown);
    EXPECT_EQ(c.ttl, 62) << "the record before it stays";
    EXPECT_EQ(ParseControl({}).ttl, 0);
}

// ---- IPv4: raw packets with their IP header ---------------------------

const std::uint32_t kDest = inet_addr("10.61.4.2");
const std::uint32_t kRouter = inet_addr("10.61.2.2");
const std::uint32_t kOther = inet_addr("10.61.6.2");
const std::vector<std::uint8_t> kData(56, 0xAA);

Request ourRequest(bool raw = true) {
    Request r;
    r.destination = kDest;
    r.ident = 0xBEEF;
    r.sequence = 0x4242;
    r.checkIdent = raw;
    r.data = kData;
    return r;
}

using Bytes = std::vector<std::uint8_t>;

Bytes ipHeader(std::uint32_t source, std::uint32_t dest, std::uint8_t ttl,
               std::size_t options = 0) {
    Bytes h(20 + options, 0);
    h[0] = static_cast<std::uint8_t>(0x40 | (5 + options / 4));
    h[8] = ttl;
    h[9] = IPPROTO_ICMP;
    std::memcpy(&h[12], &source, 4);
    std::memcpy(&h[16], &dest, 4);
    return h;
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An echo reply as the destination sends it, with a valid checksum.
Bytes echoReply(std::uint16_t ident, std::uint16_t sequence, const Bytes& data) {
    Bytes m = BuildEchoRequest(ident, sequence, data);
    m[0] = EchoReply;
    m[2] = m[3] = 0;
    std::uint16_t sum = Checksum(m);
    m[2] = static_cast<std::uint8_t>(sum >> 8);
    m[3] = static_cast<std::uint8_t>(sum);
    return m;
}

Bytes rawReply(std::uint32_t source, std::uint16_t ident, std::uint16_t sequence,
               const Bytes& data = kData) {
    return concat(ipHeader(source, inet_addr("10.61.1.2"), 61), echoReply(ident, sequence, data));
}

// A router's error quoting a request: its IP header and the first 8 bytes.
Bytes rawError(std::uint8_t type, std::uint8_t code, std::uint32_t quotedDest, std::uint16_t ident,
               std::uint16_t sequence, std::size_t quotedOptions = 0, std::size_t cut = 0) {
    Bytes quoted = concat(ipHeader(inet_addr("10.61.1.2"), quotedDest, 1, quotedOptions),
                          BuildEchoRequest(ident, sequence, kData));
    quoted.resize(quoted.size() - kData.size() - cut);
    Bytes icmp{type, code, 0, 0, 0, 0, 0, 0};
    return concat(ipHeader(kRouter, inet_addr("10.61.1.2"), 63), concat(icmp, quoted));
}

Verdict raw(const Bytes& p) {
    return ParseRawPacket(p, ourRequest()).verdict;
}

TEST(IcmpPacketBuild, EchoRequestCarriesAValidChecksum) {
    EXPECT_EQ(Checksum(BuildEchoRequest(0xBEEF, 0x4242, kData)), 0);
    // Odd lengths pad the last byte with zero.
    EXPECT_EQ(Checksum(BuildEchoRequest(1, 2, Bytes(9, 0x5A))), 0);
}

TEST(IcmpPacketAccepts, TheDestinationsReplyAndRoutersErrors) {
    Result r = ParseRawPacket(rawReply(kDest, 0xBEEF, 0x4242), ourRequest());
    ASSERT_EQ(r.verdict, Verdict::Answer);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.address, kDest);
    EXPECT_EQ(r.ttl, 61);
    EXPECT_EQ(r.dataOffset, 28u);
    EXPECT_EQ(r.dataLength, 56u);

    r = ParseRawPacket(rawError(TimeExceeded, 0, kDest, 0xBEEF, 0x4242), ourRequest());
    ASSERT_EQ(r.verdict, Verdict::Answer);
    EXPECT_EQ(r.status, IcmpStatus::TtlExpiredTransit);
    EXPECT_EQ(r.address, kRouter);
    EXPECT_EQ(raw(rawError(DestUnreachable, 1, kDest, 0xBEEF, 0x4242)), Verdict::Answer);
}

TEST(IcmpPacketRejects, TruncatedPackets) {
    Bytes reply = rawReply(kDest, 0xBEEF, 0x4242);
    EXPECT_EQ(raw(Bytes(reply.begin(), reply.begin() + 19)), Verdict::Truncated);
    EXPECT_EQ(raw(Bytes(reply.begin(), reply.begin() + 27)), Verdict::Truncated);
    EXPECT_EQ(raw({}), Verdict::Truncated);
    // A header length beyond the packet.
    Bytes longHeader = reply;
    longHeader[0] = 0x4F;
    longHeader.resize(40);
    EXPECT_EQ(raw(longHeader), Verdict::Truncated);
    Bytes shortHeader = reply;
    shortHeader[0] = 0x44;
    EXPECT_EQ(raw(shortHeader), Verdict::NotIpv4);
    Bytes v6 = reply;
    v6[0] = 0x65;
    EXPECT_EQ(raw(v6), Verdict::NotIpv4);
}

TEST(IcmpPacketRejects, WrongTypes) {
    Bytes request = concat(ipHeader(kDest, kDest, 64), BuildEchoRequest(0xBEEF, 0x4242, kData));
    EXPECT_EQ(raw(request), Verdict::WrongType); // our own request seen on loopback
    EXPECT_EQ(raw(rawError(5, 1, kDest, 0xBEEF, 0x4242)), Verdict::WrongType); // a redirect
}

TEST(IcmpPacketRejects, WrongIdentifierOrSequence) {
    EXPECT_EQ(raw(rawReply(kDest, 0xBEEE, 0x4242)), Verdict::WrongIdent);
    EXPECT_EQ(raw(rawReply(kDest, 0xBEEF, 0x4241)), Verdict::WrongSequence);
    EXPECT_EQ(raw(rawReply(kDest, 0xBEEF, 1)), Verdict::WrongSequence);
    EXPECT_EQ(raw(rawError(TimeExceeded, 0, kDest, 0xBEEE, 0x4242)), Verdict::WrongIdent);
    EXPECT_EQ(raw(rawError(TimeExceeded, 0, kDest, 0xBEEF, 0x4243)), Verdict::WrongSequence);
}

TEST(IcmpPacketRejects, EchoRepliesFromAnyoneButTheDestination) {
    EXPECT_EQ(raw(rawReply(kOther, 0xBEEF, 0x4242)), Verdict::WrongSource);
    EXPECT_EQ(raw(rawReply(kRouter, 0xBEEF, 0x4242)), Verdict::WrongSource);
}

TEST(IcmpPacketRejects, EchoRepliesWithOtherData) {
    Bytes changed = kData;
    changed[55] = 0xAB;
    EXPECT_EQ(raw(rawReply(kDest, 0xBEEF, 0x4242, changed)), Verdict::WrongData);
    EXPECT_EQ(raw(rawReply(kDest, 0xBEEF, 0x4242, Bytes(55, 0xAA))), Verdict::WrongData);
    EXPECT_EQ(raw(rawReply(kDest, 0xBEEF, 0x4242, Bytes(57, 0xAA))), Verdict::WrongData);
    Bytes broken = rawReply(kDest, 0xBEEF, 0x4242);
    broken[30] ^= 1;
    EXPECT_EQ(raw(broken), Verdict::BadChecksum);
}

TEST(IcmpPacketRejects, ErrorsQuotingTooLittle) {
    EXPECT_EQ(raw(rawError(TimeExceeded, 0, kDest, 0xBEEF, 0x4242, 0, 1)), Verdict::QuoteTooShort);
    EXPECT_EQ(raw(rawError(TimeExceeded, 0, kDest, 0xBEEF, 0x4242, 0, 8)), Verdict::QuoteTooShort);
    Bytes bare = concat(ipHeader(kRouter, kDest, 1), Bytes{TimeExceeded, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(raw(bare), Verdict::QuoteTooShort);
}

TEST(IcmpPacketRejects, ErrorsQuotingAnotherPacket) {
    // Our requests never carry IP options.
    EXPECT_EQ(raw(rawError(TimeExceeded, 0, kDest, 0xBEEF, 0x4242, 4)), Verdict::QuoteHasOptions);
    EXPECT_EQ(raw(rawError(TimeExceeded, 0, kOther, 0xBEEF, 0x4242)), Verdict::QuoteNotOurs);
    Bytes udp = rawError(TimeExceeded, 0, kDest, 0xBEEF, 0x4242);
    udp[20 + 8 + 9] = IPPROTO_UDP;
    EXPECT_EQ(raw(udp), Verdict::QuoteNotOurs);
    Bytes reply = rawError(TimeExceeded, 0, kDest, 0xBEEF, 0x4242);
    reply[20 + 8 + 20] = EchoReply;
    EXPECT_EQ(raw(reply), Verdict::QuoteNotOurs);
}

TEST(IcmpPacketFuzzLoop, RandomAndMutatedInputsKeepEveryRule) {
    // The fuzz targets' checks over inputs built from valid packets with a
    // few random bytes changed, and over plain random bytes.
    netsonde::test::FeedRandomPackets(
        12345,
        {rawReply(kDest, 0x1234, 0x5678),
         rawError(TimeExceeded, 0, inet_addr("10.61.4.2"), 0x1234, 0x5678)},
        20000, [](const Bytes& input) {
            netsonde::fuzz::RawPacket(input.data(), input.size());
            netsonde::fuzz::DatagramReply(input.data(), input.size());
            netsonde::fuzz::ErrorQueue(input.data(), input.size());
        });
}

} // namespace

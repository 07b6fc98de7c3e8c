// The packet parsers, one group per reason a packet is not our answer, and
// a seeded random-input loop over the same entry points as the fuzz targets.
#include "platform/IcmpPacket.h"
#include "fuzz/PacketFuzz.h"
#include "platform/IcmpTypes.h"
#include "support/RandomPackets.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>

using namespace platform::icmppacket;

namespace {

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

TEST(IcmpPacketBuild, EchoRequestCarriesItsNumbersDataAndAValidChecksum) {
    Bytes p = BuildEchoRequest(0xBEEF, 0x4242, kData);
    ASSERT_EQ(p.size(), 64u);
    EXPECT_EQ(p[0], EchoRequest);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ((Bytes{p[4], p[5], p[6], p[7]}), (Bytes{0xBE, 0xEF, 0x42, 0x42}));
    EXPECT_EQ(Checksum(p), 0);
    EXPECT_TRUE(std::equal(kData.begin(), kData.end(), p.begin() + 8));
    // Odd lengths pad the last byte with zero.
    EXPECT_EQ(Checksum(BuildEchoRequest(1, 2, Bytes(9, 0x5A))), 0);
}

TEST(IcmpPacketAccepts, TheDestinationsReplyAndRoutersErrorsOnBothKinds) {
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

    // Datagram sockets: the identifier is the kernel's and is not compared.
    r = ParseDatagramReply(echoReply(7, 0x4242, kData), kDest, 60, 0, ourRequest(false));
    ASSERT_EQ(r.verdict, Verdict::Answer);
    EXPECT_EQ(r.ttl, 60);
    EXPECT_EQ(r.dataOffset, 8u);
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
    EXPECT_EQ(ParseDatagramReply(Bytes(7, 0), kDest, 1, 0, ourRequest(false)).verdict,
              Verdict::Truncated);
}

TEST(IcmpPacketRejects, WrongTypes) {
    Bytes request = concat(ipHeader(kDest, kDest, 64), BuildEchoRequest(0xBEEF, 0x4242, kData));
    EXPECT_EQ(raw(request), Verdict::WrongType); // our own request seen on loopback
    EXPECT_EQ(raw(rawError(5, 1, kDest, 0xBEEF, 0x4242)), Verdict::WrongType); // a redirect
    Bytes m = echoReply(0xBEEF, 0x4242, kData);
    m[0] = 13;
    EXPECT_EQ(ParseDatagramReply(m, kDest, 1, 0, ourRequest(false)).verdict, Verdict::WrongType);
}

TEST(IcmpPacketRejects, WrongIdentifierOrSequence) {
    EXPECT_EQ(raw(rawReply(kDest, 0xBEEE, 0x4242)), Verdict::WrongIdent);
    EXPECT_EQ(raw(rawReply(kDest, 0xBEEF, 0x4241)), Verdict::WrongSequence);
    EXPECT_EQ(raw(rawReply(kDest, 0xBEEF, 1)), Verdict::WrongSequence);
    EXPECT_EQ(raw(rawError(TimeExceeded, 0, kDest, 0xBEEE, 0x4242)), Verdict::WrongIdent);
    EXPECT_EQ(raw(rawError(TimeExceeded, 0, kDest, 0xBEEF, 0x4243)), Verdict::WrongSequence);
    EXPECT_EQ(
        ParseDatagramReply(echoReply(7, 0x4243, kData), kDest, 1, 0, ourRequest(false)).verdict,
        Verdict::WrongSequence);
}

TEST(IcmpPacketRejects, EchoRepliesFromAnyoneButTheDestination) {
    EXPECT_EQ(raw(rawReply(kOther, 0xBEEF, 0x4242)), Verdict::WrongSource);
    EXPECT_EQ(raw(rawReply(kRouter, 0xBEEF, 0x4242)), Verdict::WrongSource);
    EXPECT_EQ(
        ParseDatagramReply(echoReply(7, 0x4242, kData), kOther, 1, 0, ourRequest(false)).verdict,
        Verdict::WrongSource);
}

TEST(IcmpPacketRejects, EchoRepliesWithOtherData) {
    Bytes changed = kData;
    changed[55] = 0xAB;
    EXPECT_EQ(raw(rawReply(kDest, 0xBEEF, 0x4242, changed)), Verdict::WrongData);
    EXPECT_EQ(raw(rawReply(kDest, 0xBEEF, 0x4242, Bytes(55, 0xAA))), Verdict::WrongData);
    EXPECT_EQ(raw(rawReply(kDest, 0xBEEF, 0x4242, Bytes(57, 0xAA))), Verdict::WrongData);
    EXPECT_EQ(ParseDatagramReply(echoReply(7, 0x4242, {}), kDest, 1, 0, ourRequest(false)).verdict,
              Verdict::WrongData);
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

// Control data as the kernel writes it for an error-queue entry.
Bytes errorControl(std::uint8_t origin, std::uint8_t type, std::uint8_t code,
                   std::uint32_t offender, int ttl = 62) {
    Bytes control(CMSG_SPACE(sizeof(int)) +
                  CMSG_SPACE(sizeof(sock_extended_err) + sizeof(sockaddr_in)));
    msghdr msg{};
    msg.msg_control = control.data();
    msg.msg_controllen = control.size();
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_TTL;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &ttl, sizeof ttl);
    c = CMSG_NXTHDR(&msg, c);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_RECVERR;
    c->cmsg_len = CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in));
    sock_extended_err ee{};
    ee.ee_errno = origin == SO_EE_ORIGIN_LOCAL ? EMSGSIZE : EHOSTUNREACH;
    ee.ee_origin = origin;
    ee.ee_type = type;
    ee.ee_code = code;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = offender;
    std::memcpy(CMSG_DATA(c), &ee, sizeof ee);
    std::memcpy(CMSG_DATA(c) + sizeof ee, &from, sizeof from);
    return control;
}

Result queued(const Bytes& control, const Bytes& quoted, std::uint32_t quotedDest = kDest) {
    Control c = ParseControl(control);
    c.error.quotedDestination = quotedDest;
    return ParseErrorQueue(quoted, c.error, ourRequest(false));
}

TEST(IcmpPacketErrorQueue, ReadsTheRecordAndMatchesTheQuotedRequest) {
    Bytes control = errorControl(SO_EE_ORIGIN_ICMP, DestUnreachable, 1, kRouter);
    Bytes quoted = BuildEchoRequest(99, 0x4242, kData);
    Result r = queued(control, quoted);
    ASSERT_EQ(r.verdict, Verdict::Answer);
    EXPECT_EQ(r.status, IcmpStatus::DestHostUnreachable);
    EXPECT_EQ(r.address, kRouter);
    EXPECT_EQ(r.ttl, 62);

    EXPECT_EQ(queued(control, BuildEchoRequest(99, 0x4241, kData)).verdict, Verdict::WrongSequence);
    EXPECT_EQ(queued(control, Bytes(quoted.begin(), quoted.begin() + 7)).verdict,
              Verdict::QuoteTooShort);
    EXPECT_EQ(queued(control, quoted, kOther).verdict, Verdict::QuoteNotOurs);
    EXPECT_EQ(queued(errorControl(SO_EE_ORIGIN_ICMP, 5, 0, kRouter), quoted).verdict,
              Verdict::WrongType);
    EXPECT_EQ(queued(errorControl(SO_EE_ORIGIN_NONE, 0, 0, kRouter), quoted).verdict,
              Verdict::NotFromIcmp);
    Result local = queued(errorControl(SO_EE_ORIGIN_LOCAL, 0, 0, 0), {});
    EXPECT_EQ(local.verdict, Verdict::LocalError);
    EXPECT_EQ(local.errnum, EMSGSIZE);
    // Without an extended error the entry is nothing we can read.
    EXPECT_EQ(
        queued(Bytes(control.begin(), control.begin() + CMSG_SPACE(sizeof(int))), quoted).verdict,
        Verdict::NotFromIcmp);
}

TEST(IcmpPacketErrorQueue, ControlDataThatLiesAboutItsLengthsIsCutOff) {
    Bytes control = errorControl(SO_EE_ORIGIN_ICMP, TimeExceeded, 0, kRouter);
    // A record claiming more bytes than there are.
    Bytes claims = control;
    std::size_t huge = 1 << 20;
    std::memcpy(claims.data(), &huge, sizeof huge);
    Control c = ParseControl(claims);
    EXPECT_FALSE(c.error.present);
    EXPECT_EQ(c.ttl, 0);
    // The extended error cut short before the offender's address.
    Bytes cut(control.begin(), control.end() - sizeof(sockaddr_in));
    std::size_t shortLength = CMSG_LEN(sizeof(sock_extended_err));
    std::memcpy(cut.data() + CMSG_SPACE(sizeof(int)), &shortLength, sizeof shortLength);
    c = ParseControl(cut);
    EXPECT_TRUE(c.error.present);
    EXPECT_FALSE(c.error.offenderKnown);
    EXPECT_EQ(ParseControl({}).ttl, 0);
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

#pragma once

#include "platform/IcmpPacket.h"
#include "platform/IcmpService.h"
#include "platform/IcmpTypes.h"
#include "platform/WinSock.h"
#include "support/PrivateNetwork.h"
#include "support/TestNetwork.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

// One IP family as the tests see it, so that a case written once runs for
// IPv4 and for IPv6 (TYPED_TEST over FamilyTypes or FamiliesOnEachSocketKind,
// at the end). A family gives its addresses on loopback, in the private
// network and in the routed test network; the service's calls for it
// (support/RoutedNetworkOn.h adds the bound library's); and its packets as
// they travel: an echo message, a whole forged datagram, the control data of
// an error-queue entry. Addresses are the family's literals; ToWire turns one
// into the address the packet parsers take, Service into the one the echo
// calls take.
namespace netsonde::test {

using Bytes = std::vector<std::uint8_t>;

namespace familydetail {

inline void PutChecksum(Bytes& icmp, std::uint16_t sum) {
    icmp[2] = static_cast<std::uint8_t>(sum >> 8);
    icmp[3] = static_cast<std::uint8_t>(sum);
}

// The control data of an error-queue entry as the kernel writes it: the
// time-to-live (hop limit) record, then the extended error with the
// offender's address.
template <class SockAddr>
Bytes ErrorControl(int level, int ttlType, int errorType, std::uint8_t origin, std::uint8_t type,
                   std::uint8_t code, const SockAddr& offender, int ttl) {
    Bytes control(CMSG_SPACE(sizeof(int)) +
                  CMSG_SPACE(sizeof(sock_extended_err) + sizeof(SockAddr)));
    msghdr msg{};
    msg.msg_control = control.data();
    msg.msg_controllen = control.size();
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = level;
    c->cmsg_type = ttlType;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &ttl, sizeof ttl);
    c = CMSG_NXTHDR(&msg, c);
    c->cmsg_level = level;
    c->cmsg_type = errorType;
    c->cmsg_len = CMSG_LEN(sizeof(sock_extended_err) + sizeof(SockAddr));
    sock_extended_err ee{};
    ee.ee_errno = origin == SO_EE_ORIGIN_LOCAL ? EMSGSIZE : EHOSTUNREACH;
    ee.ee_origin = origin;
    ee.ee_type = type;
    ee.ee_code = code;
    std::memcpy(CMSG_DATA(c), &ee, sizeof ee);
    std::memcpy(CMSG_DATA(c) + sizeof ee, &offender, sizeof offender);
    return control;
}

} // namespace familydetail

struct Family4 {
    using Family = Family4;
    static std::string Name() { return "IPv4"; }
    static constexpr int Af = AF_INET;
    using Reply = TEchoReply;
    using Wire = std::uint32_t; // network byte order
    using Request = platform::icmppacket::Request;
    using Result = platform::icmppacket::Result;
    using SockAddr = sockaddr_in;

    // Loopback and the private network (support/PrivateNetwork.h).
    static constexpr const char* Loopback = "127.0.0.1";
    static constexpr const char* NoRoute = "10.77.0.1";
    static const char* Silent() { return SilentAddress(); }

    // The routed test network (support/TestNetwork.h).
    static constexpr const char* Client = net::Client;
    static constexpr std::array<const char*, 3> Routers = {net::R1, net::R2, net::R3};
    static constexpr const char* Far = net::Far;
    static constexpr const char* FarName = "far.nsd.test";
    static constexpr const char* FarNoName = net::FarNoName;
    static constexpr const char* Quiet = net::Quiet;
    static constexpr const char* Blackholed = "10.61.7.5";
    // Host number host of the net that r2 drops without a word.
    static std::string InSilentNet(int host) { return net::SilentNet + std::to_string(host); }
    static constexpr const char* Forger = net::Forger;
    static constexpr const char* HostUnreachable = net::HostUnreachable;
    static constexpr const char* NetUnreachable = net::NetUnreachable;

    static Wire ToWire(const char* text) {
        in_addr a{};
        EXPECT_EQ(::inet_pton(AF_INET, text, &a), 1) << text;
        return a.s_addr;
    }
    static Wire Service(const char* text) { return ToWire(text); }
    static std::string Text(Wire address) {
        char out[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &address, out, sizeof out);
        return out;
    }

    // The echo service of platform/IcmpService.h.
    static IcmpHandle Create() { return platform::linuxicmp::IcmpCreateFile(); }
    static std::uint32_t SendEcho(IcmpHandle h, const char* to, const void* data,
                                  std::uint16_t size, TIpOptions* options, void* reply,
                                  std::uint32_t replySize, std::uint32_t timeout) {
        return platform::linuxicmp::IcmpSendEcho(h, Service(to), data, size, options, reply,
                                                 replySize, timeout);
    }
    // The other family's call on a handle of this one.
    static std::uint32_t SendEchoOfTheOtherFamily(IcmpHandle h, void* buffer, std::uint32_t size) {
        TIpOptions options;
        options.Ttl = 8;
        TIpv6Address loopback{};
        platform::inet_addr6("::1", loopback);
        return platform::linuxicmp::Icmp6SendEcho(h, &loopback, buffer, 8, &options, buffer, size,
                                                  10);
    }

    // Packets.
    static constexpr std::uint8_t EchoRequestType = platform::icmppacket::EchoRequest;
    static constexpr std::uint8_t EchoReplyType = platform::icmppacket::EchoReply;
    static constexpr std::uint8_t TimeExceededType = platform::icmppacket::TimeExceeded;
    // An unreachable report for the host (not the net).
    static constexpr std::uint8_t HostUnreachableType = platform::icmppacket::DestUnreachable;
    static constexpr std::uint8_t HostUnreachableCode = 1;
    // A redirect: an error that answers no echo request.
    static constexpr std::uint8_t RedirectType = 5;
    // A timestamp request: a query that is no echo.
    static constexpr std::uint8_t OtherQueryType = 13;
    static constexpr std::uint8_t IcmpOrigin = SO_EE_ORIGIN_ICMP;
    static constexpr std::uint8_t OtherFamilysOrigin = SO_EE_ORIGIN_ICMP6;

    // The family's own builder of echo requests, under test.
    static Bytes BuildRequest(std::uint16_t ident, std::uint16_t sequence, const Bytes& data) {
        return platform::icmppacket::BuildEchoRequest(ident, sequence, data);
    }
    // An echo message of the given type as it travels, with its checksum.
    static Bytes EchoMessage(std::uint8_t type, std::uint16_t ident, std::uint16_t sequence,
                             const Bytes& data) {
        Bytes m = BuildRequest(ident, sequence, data);
        m[0] = type;
        m[2] = m[3] = 0;
        familydetail::PutChecksum(m, platform::icmppacket::Checksum(m));
        return m;
    }
    // An ICMP error of the given type and code that quotes an echo request
    // of the client to destination with the given numbers (56 bytes of 'a').
    static Bytes ErrorQuoting(std::uint8_t type, std::uint8_t code, const char* destination,
                              std::uint16_t ident, std::uint16_t sequence);
    // A whole datagram from source to destination carrying the ICMP
    // message, for a raw socket that sends its own headers.
    static Bytes Datagram(const char* source, const char* destination, const Bytes& icmp) {
        Bytes packet(20, 0);
        packet[0] = 0x45;
        packet[2] = static_cast<std::uint8_t>((20 + icmp.size()) >> 8);
        packet[3] = static_cast<std::uint8_t>(20 + icmp.size());
        packet[8] = 255;
        packet[9] = IPPROTO_ICMP;
        Wire from = ToWire(source), to = ToWire(destination);
        std::memcpy(&packet[12], &from, 4);
        std::memcpy(&packet[16], &to, 4);
        packet.insert(packet.end(), icmp.begin(), icmp.end());
        return packet;
    }
    static SockAddr SocketAddress(const char* text) {
        SockAddr a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = ToWire(text);
        return a;
    }

    static Request EchoRequestTo(Wire destination, std::uint16_t ident, std::uint16_t sequence,
                                 bool checkIdent, const Bytes& data) {
        Request r;
        r.destination = destination;
        r.ident = ident;
        r.sequence = sequence;
        r.checkIdent = checkIdent;
        r.data = data;
        return r;
    }
    // A message from a socket with its sender and time-to-live.
    static Result ParseMessage(const Bytes& message, Wire source, std::uint8_t ttl,
                               const Request& request) {
        return platform::icmppacket::ParseDatagramReply(message, source, ttl, 0, request);
    }
    static Result ParseQueued(const Bytes& quoted, platform::icmppacket::ErrorRecord record,
                              Wire quotedDestination, const Request& request) {
        record.quotedDestination = quotedDestination;
        return platform::icmppacket::ParseErrorQueue(quoted, record, request);
    }
    static std::uint8_t Ttl(const Result& r) { return r.ttl; }
    static Bytes ErrorControl(std::uint8_t origin, std::uint8_t type, std::uint8_t code,
                              Wire offender, int ttl = 62) {
        SockAddr from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = offender;
        return familydetail::ErrorControl(IPPROTO_IP, IP_TTL, IP_RECVERR, origin, type, code, from,
                                          ttl);
    }
};

inline Bytes Family4::ErrorQuoting(std::uint8_t type, std::uint8_t code, const char* destination,
                                   std::uint16_t ident, std::uint16_t sequence) {
    Bytes icmp{type, code, 0, 0, 0, 0, 0, 0};
    const Bytes quoted =
        Datagram(net::Client, destination,
                 platform::icmppacket::BuildEchoRequest(ident, sequence, Bytes(56, 'a')));
    icmp.insert(icmp.end(), quoted.begin(), quoted.end());
    familydetail::PutChecksum(icmp, platform::icmppacket::Checksum(icmp));
    return icmp;
}

struct Family6 {
    using Family = Family6;
    static std::string Name() { return "IPv6"; }
    static constexpr int Af = AF_INET6;
    using Reply = TEcho6Reply;
    using Wire = platform::icmppacket::Address6;
    using Request = platform::icmppacket::Request6;
    using Result = platform::icmppacket::Result6;
    using SockAddr = sockaddr_in6;

    static constexpr const char* Loopback = "::1";
    static constexpr const char* NoRoute = "2001:db8::1";
    static const char* Silent() { return SilentAddress6(); }

    static constexpr const char* Client = net::Client6;
    static constexpr std::array<const char*, 3> Routers = {net::R1_6, net::R2_6, net::R3_6};
    static constexpr const char* Far = net::Far6;
    static constexpr const char* FarName = "six.nsd.test";
    static constexpr const char* FarNoName = net::FarNoName6;
    static constexpr const char* Quiet = net::Quiet6;
    static constexpr const char* Blackholed = net::Blackholed6;
    static std::string InSilentNet(int host) {
        char text[32];
        std::snprintf(text, sizeof text, "fd00:61:7::%x", host);
        return text;
    }
    static constexpr const char* Forger = net::Forger6;
    static constexpr const char* HostUnreachable = net::HostUnreachable6;
    static constexpr const char* NetUnreachable = net::NetUnreachable6;

    static Wire ToWire(const char* text) {
        Wire a{};
        EXPECT_EQ(::inet_pton(AF_INET6, text, a.data()), 1) << text;
        return a;
    }
    // Link-local texts keep their zone here.
    static TIpv6Address Service(const char* text) {
        TIpv6Address a;
        EXPECT_TRUE(platform::inet_addr6(text, a)) << text;
        return a;
    }
    static std::string Text(const TIpv6Address& address) { return platform::inet_ntoa6(address); }
    static std::string Text(const Wire& address) {
        char out[INET6_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET6, address.data(), out, sizeof out);
        return out;
    }

    static IcmpHandle Create() { return platform::linuxicmp::Icmp6CreateFile(); }
    static std::uint32_t SendEcho(IcmpHandle h, const char* to, const void* data,
                                  std::uint16_t size, TIpOptions* options, void* reply,
                                  std::uint32_t replySize, std::uint32_t timeout) {
        TIpv6Address destination = Service(to);
        return platform::linuxicmp::Icmp6SendEcho(h, &destination, data, size, options, reply,
                                                  replySize, timeout);
    }
    static std::uint32_t SendEchoOfTheOtherFamily(IcmpHandle h, void* buffer, std::uint32_t size) {
        TIpOptions options;
        options.Ttl = 8;
        return platform::linuxicmp::IcmpSendEcho(h, Family4::Service("127.0.0.1"), buffer, 8,
                                                 &options, buffer, size, 10);
    }

    static constexpr std::uint8_t EchoRequestType = platform::icmppacket::Echo6Request;
    static constexpr std::uint8_t EchoReplyType = platform::icmppacket::Echo6Reply;
    static constexpr std::uint8_t TimeExceededType = platform::icmppacket::TimeExceeded6;
    // Address unreachable.
    static constexpr std::uint8_t HostUnreachableType = platform::icmppacket::Dest6Unreachable;
    static constexpr std::uint8_t HostUnreachableCode = 3;
    static constexpr std::uint8_t RedirectType = 137;
    // A neighbour solicitation.
    static constexpr std::uint8_t OtherQueryType = 135;
    static constexpr std::uint8_t IcmpOrigin = SO_EE_ORIGIN_ICMP6;
    static constexpr std::uint8_t OtherFamilysOrigin = SO_EE_ORIGIN_ICMP;

    // An echo message with a zero checksum: the kernel computes the one of
    // what is sent and checks the one of what arrives.
    static Bytes BuildRequest(std::uint16_t ident, std::uint16_t sequence, const Bytes& data) {
        return platform::icmppacket::BuildEcho6Request(ident, sequence, data);
    }
    static Bytes EchoMessage(std::uint8_t type, std::uint16_t ident, std::uint16_t sequence,
                             const Bytes& data) {
        Bytes m = BuildRequest(ident, sequence, data);
        m[0] = type;
        return m;
    }
    // A whole datagram, whose ICMPv6 checksum (over a pseudo-header of both
    // addresses, the length and the next header) is computed here since no
    // kernel does it for a packet with its own header.
    static Bytes Datagram(const char* source, const char* destination, Bytes icmp) {
        const Wire from = ToWire(source), to = ToWire(destination);
        const auto length = static_cast<std::uint32_t>(icmp.size());
        Bytes pseudo(from.begin(), from.end());
        pseudo.insert(pseudo.end(), to.begin(), to.end());
        pseudo.insert(pseudo.end(), {static_cast<std::uint8_t>(length >> 24),
                                     static_cast<std::uint8_t>(length >> 16),
                                     static_cast<std::uint8_t>(length >> 8),
                                     static_cast<std::uint8_t>(length), 0, 0, 0, IPPROTO_ICMPV6});
        icmp[2] = icmp[3] = 0;
        pseudo.insert(pseudo.end(), icmp.begin(), icmp.end());
        familydetail::PutChecksum(icmp, platform::icmppacket::Checksum(pseudo));
        Bytes packet(40, 0);
        packet[0] = 0x60;
        packet[4] = static_cast<std::uint8_t>(length >> 8);
        packet[5] = static_cast<std::uint8_t>(length);
        packet[6] = IPPROTO_ICMPV6;
        packet[7] = 255;
        std::copy(from.begin(), from.end(), packet.begin() + 8);
        std::copy(to.begin(), to.end(), packet.begin() + 24);
        packet.insert(packet.end(), icmp.begin(), icmp.end());
        return packet;
    }
    static SockAddr SocketAddress(const char* text) {
        SockAddr a{};
        a.sin6_family = AF_INET6;
        const Wire w = ToWire(text);
        std::memcpy(&a.sin6_addr, w.data(), 16);
        return a;
    }

    static Request EchoRequestTo(const Wire& destination, std::uint16_t ident,
                                 std::uint16_t sequence, bool checkIdent, const Bytes& data) {
        Request r;
        r.destination = destination;
        r.ident = ident;
        r.sequence = sequence;
        r.checkIdent = checkIdent;
        r.data = data;
        return r;
    }
    static Result ParseMessage(const Bytes& message, const Wire& source, std::uint8_t hopLimit,
                               const Request& request) {
        return platform::icmppacket::ParseIcmp6Message(message, source, hopLimit, 0, request);
    }
    static Result ParseQueued(const Bytes& quoted, platform::icmppacket::ErrorRecord record,
                              const Wire& quotedDestination, const Request& request) {
        record.quotedDestination6 = quotedDestination;
        return platform::icmppacket::ParseErrorQueue6(quoted, record, request);
    }
    static std::uint8_t Ttl(const Result& r) { return r.hopLimit; }
    static Bytes ErrorControl(std::uint8_t origin, std::uint8_t type, std::uint8_t code,
                              const Wire& offender, int hops = 62) {
        SockAddr from{};
        from.sin6_family = AF_INET6;
        std::memcpy(&from.sin6_addr, offender.data(), 16);
        return familydetail::ErrorControl(IPPROTO_IPV6, IPV6_HOPLIMIT, IPV6_RECVERR, origin, type,
                                          code, from, hops);
    }
};

// A family on one kind of socket: datagram, or raw (shared by the handles).
template <class F, platform::linuxicmp::SocketKind K> struct OnSocket : F {
    using Family = F;
    static constexpr platform::linuxicmp::SocketKind Kind = K;
    static std::string Name() {
        return F::Name() + (K == platform::linuxicmp::SocketKind::Raw ? "Raw" : "Datagram");
    }
};

} // namespace netsonde::test

// The types the typed suites run over. They stand at global scope, without
// a name generator, so that GoogleTest prints them by these short names
// ("EchoServiceNet/3.Case, where TypeParam = IPv6Raw") and ctest's
// discovery, which reads the printed type, names the case
// "EchoServiceNet.Case<IPv6Raw>".
struct IPv4 : netsonde::test::Family4 {};
struct IPv6 : netsonde::test::Family6 {};
struct IPv4Datagram
    : netsonde::test::OnSocket<netsonde::test::Family4, platform::linuxicmp::SocketKind::Datagram> {
};
struct IPv4Raw
    : netsonde::test::OnSocket<netsonde::test::Family4, platform::linuxicmp::SocketKind::Raw> {};
struct IPv6Datagram
    : netsonde::test::OnSocket<netsonde::test::Family6, platform::linuxicmp::SocketKind::Datagram> {
};
struct IPv6Raw
    : netsonde::test::OnSocket<netsonde::test::Family6, platform::linuxicmp::SocketKind::Raw> {};

namespace netsonde::test {

using FamilyTypes = testing::Types<IPv4, IPv6>;
using FamiliesOnEachSocketKind = testing::Types<IPv4Datagram, IPv4Raw, IPv6Datagram, IPv6Raw>;
using Ipv4OnEachSocketKind = testing::Types<IPv4Datagram, IPv4Raw>;
using Ipv6OnEachSocketKind = testing::Types<IPv6Datagram, IPv6Raw>;

} // namespace netsonde::test

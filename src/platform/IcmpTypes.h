#pragma once

#include <cstdint>

// The records exchanged with the ICMP echo service. Their layout is fixed:
// 8 bytes of IP options and a 28-byte reply header at the start of the reply
// buffer. The two pointer fields of the classic layout are kept as 32-bit
// values; nothing reads them.

struct TIpOptions {
    std::uint8_t Ttl = 0;          // time-to-live of the request, or of the reply
    std::uint8_t Tos = 0;          // type of service
    std::uint8_t Flags = 0;        // IP header flags
    std::uint8_t OptionsSize = 0;  // length of IP options; always 0 here
    std::uint32_t OptionsData = 0; // IP options; always none
};
static_assert(sizeof(TIpOptions) == 8);

struct TEchoReply {
    std::uint32_t Address = 0;       // answering node, network byte order
    std::uint32_t Status = 0;        // ICMP status code (0 for an echo reply)
    std::uint32_t RoundTripTime = 0; // milliseconds
    std::uint16_t DataSize = 0;      // echoed data bytes
    std::uint16_t Reserved = 0;
    std::uint32_t Data = 0; // offset of the echoed data in the reply buffer
    TIpOptions Options;     // options of the reply packet
};
static_assert(sizeof(TEchoReply) == 28);

// An IPv6 address as the service's IPv6 calls take and give it: the 16
// bytes in network order and, for a link-local address, the index of the
// interface it belongs to (0 for none).
struct TIpv6Address {
    std::uint8_t Bytes[16] = {};
    std::uint32_t ScopeId = 0;
};
static_assert(sizeof(TIpv6Address) == 20);

// The reply record of an IPv6 echo request, at the start of the reply
// buffer and followed by the echoed data. Options.Ttl is the hop limit the
// reply arrived with, Options.Tos its traffic class.
struct TEcho6Reply {
    TIpv6Address Address;            // answering node
    std::uint32_t Status = 0;        // ICMP status code (0 for an echo reply)
    std::uint32_t RoundTripTime = 0; // milliseconds
    std::uint16_t DataSize = 0;      // echoed data bytes
    std::uint16_t Reserved = 0;
    TIpOptions Options;
};
static_assert(sizeof(TEcho6Reply) == 40);

// ICMP status codes reported by the service.
namespace IcmpStatus {
constexpr std::uint32_t Success = 0;
constexpr std::uint32_t BufTooSmall = 11001;
constexpr std::uint32_t DestNetUnreachable = 11002;
constexpr std::uint32_t DestHostUnreachable = 11003;
constexpr std::uint32_t DestProtUnreachable = 11004;
constexpr std::uint32_t DestPortUnreachable = 11005;
constexpr std::uint32_t NoResources = 11006;
constexpr std::uint32_t BadOption = 11007;
constexpr std::uint32_t HwError = 11008;
constexpr std::uint32_t PacketTooBig = 11009;
constexpr std::uint32_t ReqTimedOut = 11010;
constexpr std::uint32_t BadReq = 11011;
constexpr std::uint32_t BadRoute = 11012;
constexpr std::uint32_t TtlExpiredTransit = 11013;
constexpr std::uint32_t TtlExpiredReassem = 11014;
constexpr std::uint32_t ParamProblem = 11015;
constexpr std::uint32_t SourceQuench = 11016;
constexpr std::uint32_t BadDestination = 11018;
constexpr std::uint32_t GeneralFailure = 11050;
} // namespace IcmpStatus

// Service handles: an opaque value, or InvalidIcmpHandle when none can be had.
using IcmpHandle = std::intptr_t;
constexpr IcmpHandle InvalidIcmpHandle = -1;

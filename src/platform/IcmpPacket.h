#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Building and reading ICMP echo packets, as pure functions of bytes. The
// socket code hands them what it received; they decide whether it answers
// the request that is waiting, and never read outside the bytes given.
namespace platform::icmppacket {

constexpr std::size_t EchoHeaderSize = 8;
constexpr std::size_t MinIpHeaderSize = 20;

constexpr std::uint8_t EchoReply = 0;
constexpr std::uint8_t DestUnreachable = 3;
constexpr std::uint8_t SourceQuench = 4;
constexpr std::uint8_t EchoRequest = 8;
constexpr std::uint8_t TimeExceeded = 11;
constexpr std::uint8_t ParameterProblem = 12;

// The request that waits for its answer. Addresses are in network byte order.
struct Request {
    std::uint32_t destination = 0;
    std::uint16_t ident = 0;
    std::uint16_t sequence = 0;
    // Datagram sockets: the kernel sets and checks the identifier itself.
    bool checkIdent = true;
    std::span<const std::uint8_t> data;
};

// Why a packet is not the answer; Answer when it is.
enum class Verdict {
    Answer,
    Truncated,       // too short for the headers it claims
    NotIpv4,         // raw packet without an IPv4 header
    BadChecksum,     // echo reply whose ICMP checksum does not add up
    WrongType,       // neither an echo reply nor an error that answers echoes
    WrongIdent,      // another process's or another handle's identifier
    WrongSequence,   // an earlier request's answer, or a guess
    WrongSource,     // an echo reply that does not come from the destination
    WrongData,       // an echo reply that does not carry exactly our data
    QuoteTooShort,   // an error that quotes less than an IP and an echo header
    QuoteHasOptions, // an error whose quoted IP header carries options
    QuoteNotOurs,    // an error that quotes another packet than our request
    NotFromIcmp,     // an error-queue entry not raised by an ICMP message
    LocalError,      // the host itself refused the request (errnum says why)
};

// What an accepted packet tells; the fields are set for Answer only (and
// errnum for LocalError).
struct Result {
    Verdict verdict = Verdict::Truncated;
    std::uint32_t status = 0;  // ICMP status code: 0, or 11002 ... 11050
    std::uint32_t address = 0; // node that answered
    std::size_t dataOffset = 0;
    std::size_t dataLength = 0;
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
    std::uint8_t flags = 0;
    int errnum = 0;
};

// The Internet checksum of bytes (0 when a packet with its checksum adds up).
std::uint16_t Checksum(std::span<const std::uint8_t> bytes);

// An echo request: type 8, the identifier and sequence number, the data,
// with its checksum.
std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t ident, std::uint16_t sequence,
                                           std::span<const std::uint8_t> data);

// The status code of an ICMP error type and code; 0 for messages that do
// not answer an echo request.
std::uint32_t ErrorStatus(std::uint8_t type, std::uint8_t code);

// The status code of a request the socket refused to send (errno of
// sendto or sendmsg).
std::uint32_t SendErrorStatus(int error);

// A whole IPv4 datagram from a raw ICMP socket: an echo reply from the
// destination, or an ICMP error from any node quoting our request.
Result ParseRawPacket(std::span<const std::uint8_t> packet, const Request& request);

// The ICMP message from a datagram socket, its sender and, from the control
// data, the time-to-live and type of service it arrived with.
Result ParseDatagramReply(std::span<const std::uint8_t> message, std::uint32_t source,
                          std::uint8_t ttl, std::uint8_t tos, const Request& request);

// What a datagram socket's error queue gives for one ICMP error.
struct ErrorRecord {
    bool present = false; // the control data held an extended error
    std::uint32_t errnum = 0;
    std::uint8_t origin = 0; // 2: raised by an ICMP message; 1: by this host
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    bool offenderKnown = false;
    std::uint32_t offender = 0;          // the node that reported the error
    std::uint32_t quotedDestination = 0; // the destination of the packet it quotes
    std::uint8_t ttl = 0;
    // The same two addresses for an error of an IPv6 socket.
    std::array<std::uint8_t, 16> offender6{};
    std::array<std::uint8_t, 16> quotedDestination6{};
};

// Reads the control data of a received message: the time-to-live and type
// of service of a reply, and the extended error of an error-queue entry. An
// IPv6 socket's hop limit and traffic class land in ttl and tos.
struct Control {
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
    ErrorRecord error;
};
Control ParseControl(std::span<const std::uint8_t> control);

// An error-queue entry: the record and the quoted echo header with its data.
Result ParseErrorQueue(std::span<const std::uint8_t> quoted, const ErrorRecord& record,
                       const Request& request);

// ---- ICMPv6 -----------------------------------------------------------
//
// An IPv6 socket of either kind hands over the ICMPv6 message without the
// IPv6 header; the sender and the hop limit come beside it. The kernel
// verifies the checksum of what it delivers, and computes the one of what
// is sent (it covers the addresses, which only the kernel knows for sure).

using Address6 = std::array<std::uint8_t, 16>;
constexpr std::size_t Ipv6HeaderSize = 40;

constexpr std::uint8_t Dest6Unreachable = 1;
constexpr std::uint8_t PacketTooBig6 = 2;
constexpr std::uint8_t TimeExceeded6 = 3;
constexpr std::uint8_t ParameterProblem6 = 4;
constexpr std::uint8_t Echo6Request = 128;
constexpr std::uint8_t Echo6Reply = 129;

struct Request6 {
    Address6 destination{};
    std::uint16_t ident = 0;
    std::uint16_t sequence = 0;
    bool checkIdent = true;
    std::span<const std::uint8_t> data;
};

struct Result6 {
    Verdict verdict = Verdict::Truncated;
    std::uint32_t status = 0;
    Address6 address{}; // node that answered
    std::size_t dataOffset = 0;
    std::size_t dataLength = 0;
    std::uint8_t hopLimit = 0;
    std::uint8_t trafficClass = 0;
    int errnum = 0;
};

// An ICMPv6 echo request (type 128) with a zero checksum for the kernel to fill.
std::vector<std::uint8_t> BuildEcho6Request(std::uint16_t ident, std::uint16_t sequence,
                                            std::span<const std::uint8_t> data);

// The status code of an ICMPv6 error type and code, mapped to the nearest
// code of the IPv4 table; 0 for messages that do not answer an echo request.
std::uint32_t Error6Status(std::uint8_t type, std::uint8_t code);

// An ICMPv6 message from a socket: an echo reply from the destination, or
// (raw sockets) an error from any node quoting our request.
Result6 ParseIcmp6Message(std::span<const std::uint8_t> message, const Address6& source,
                          std::uint8_t hopLimit, std::uint8_t trafficClass,
                          const Request6& request);

// An error-queue entry of an IPv6 datagram socket.
Result6 ParseErrorQueue6(std::span<const std::uint8_t> quoted, const ErrorRecord& record,
                         const Request6& request);

} // namespace platform::icmppacket

#pragma once

#include <cstddef>
#include <cstdint>

// One input of each packet parser, as the fuzz targets and the ordinary
// suite's random-input loop feed them. Each checks what an accepted packet
// must satisfy and aborts when it does not; it returns 0.
namespace netsonde::fuzz {

// A whole IPv4 datagram as a raw socket receives it.
int RawPacket(const std::uint8_t* data, std::size_t size);
// An ICMP message as a datagram socket receives it; the first byte picks
// the sender among the destination and two others.
int DatagramReply(const std::uint8_t* data, std::size_t size);
// An error-queue entry: the first byte gives the length of the control
// data that follows, the rest is the quoted echo header and data.
int ErrorQueue(const std::uint8_t* data, std::size_t size);
// An ICMPv6 message as an IPv6 socket receives it; the first byte picks the
// sender among the destination and two others, and whether the identifier
// counts (raw) or not (datagram).
int Icmp6Message(const std::uint8_t* data, std::size_t size);
// An IPv6 error-queue entry, laid out as for ErrorQueue.
int ErrorQueue6(const std::uint8_t* data, std::size_t size);

} // namespace netsonde::fuzz

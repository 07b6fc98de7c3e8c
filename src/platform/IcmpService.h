#pragma once

#include "platform/IcmpTypes.h"

#include <cstddef>
#include <cstdint>
#include <optional>

#include <sys/socket.h>

// The ICMP echo service on Linux sockets. A handle is of one family
// (IcmpCreateFile: IPv4, Icmp6CreateFile: IPv6) and owns a datagram ICMP
// socket where net.ipv4.ping_group_range admits the process's group.
// Otherwise it uses the raw ICMP socket that all raw handles of its family
// share (opened directly by root, handed over by the privileged helper to
// everybody else): each request tells its answer apart by its handle's own
// identifier, its sequence, destination and data. A handle that cannot set
// its socket up as matching answers needs fails as a whole.
namespace platform::linuxicmp {

enum class SocketKind { None, Datagram, Raw };

// Opens a handle; InvalidIcmpHandle when neither kind of socket can be had.
// A closed handle's socket waits for reuse by the next IcmpCreateFile (a few
// of them); CloseIdleSockets closes them, lets go of the shared raw sockets
// (requests still using one keep it until they end) and the kept ones, and
// forgets that datagram sockets or the helper were refused.
IcmpHandle IcmpCreateFile();
IcmpHandle Icmp6CreateFile();
bool IcmpCloseHandle(IcmpHandle handle);
void CloseIdleSockets();
// Sends one echo request and waits for its answer. Returns 1 with a
// TEchoReply at the start of replyBuffer followed by the echoed data, or 0
// with the last error set: 11010 when nothing answered in time.
std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destination, const void* requestData,
                           std::uint16_t requestSize, const TIpOptions* options, void* replyBuffer,
                           std::uint32_t replySize, std::uint32_t timeoutMs);

// The same for IPv6, on a handle from Icmp6CreateFile, with a TEcho6Reply
// at the start of replyBuffer. options->Ttl is the hop limit.
std::uint32_t Icmp6SendEcho(IcmpHandle handle, const TIpv6Address* destination,
                            const void* requestData, std::uint16_t requestSize,
                            const TIpOptions* options, void* replyBuffer, std::uint32_t replySize,
                            std::uint32_t timeoutMs);

// Which kind of socket of a family this process can open now (probes one;
// a raw one is kept for the first handle).
SocketKind ProbeSocketKind(int family = AF_INET);
// The kind of socket behind a handle.
SocketKind HandleSocketKind(IcmpHandle handle);
// The identifier and sequence number that the next request of a handle
// will carry; tests forge answers with them.
struct EchoNumbers {
    std::uint16_t ident = 0;
    std::uint16_t sequence = 0;
};
std::optional<EchoNumbers> NextEchoNumbers(IcmpHandle handle);
// How many requests wait on the family's shared raw socket now (tests).
std::size_t WaitingRawRequests(int family = AF_INET);
// Lets the process choose the socket kind: datagram first (the default) or
// raw only. Used by tests and benchmarks to exercise both paths.
void PreferRawSockets(bool rawOnly);

// Identifiers of raw handles and the first sequence number of every handle
// come from the kernel's random source. With a seed, every new handle takes
// both from the seed alone, as two programs whose random source gave the
// same values would: tests use it to show that such handles still never
// take each other's answers. std::nullopt returns to the random source.
void SeedIdentifiersForTesting(std::optional<std::uint64_t> seed);

// Wakes every request that is waiting for an answer and makes it return at
// once with 11010; later requests return at once too. Called when the program
// ends so that no worker is left blocked.
void InterruptAllRequests();
// Undoes InterruptAllRequests (tests start over with a live service).
void ResumeRequests();

} // namespace platform::linuxicmp

#pragma once

#include <string>

#include <sys/socket.h>

namespace netsonde::test {

// A small routed network of network namespaces that a test program builds
// for itself and tears down when it ends. The test program runs inside the
// client namespace, with its own /etc/resolv.conf and /etc/hosts pointing at
// a local DNS server that knows only the zone "nsd.test".
//
//   client 10.61.1.2 -- r1 10.61.1.1 | 10.61.2.1 -- r2 10.61.2.2 | 10.61.3.1
//     -- r3 10.61.3.2 | 10.61.4.1 -- far 10.61.4.2 (and 10.61.4.3, no name)
//                       r3 10.61.5.1 -- quiet 10.61.5.2 (never answers echo)
//                       r3 10.61.6.1 -- forger 10.61.6.2 (sends what a test makes it send)
//
// r2 reports 10.61.9.0/24 as host unreachable and 10.61.8.0/24 as net
// unreachable. The far host sends with TTL 64 as Linux does, quiet and
// forger with 255. Routers answer every packet, without rate limits, and
// r3 forwards packets with any source address from the forger. Names
// (forward and reverse): r1/r2/r3/far/quiet.nsd.test.
//
// r2 drops everything for 10.61.7.0/24 without a word. far also holds all
// of 10.61.10.0/24, of which only .10, .20, ... .250 answer echo.
// IPv6 beside it on the same links: fd00:61:<n>::/64 for 10.61.<n>.0/24,
// the same host numbers (client fd00:61:1::2 ... far fd00:61:4::2), and r1's
// link-local fe80::61:1 on the client's link c0. r2 answers no-route for
// fd00:61:8::/64, address-unreachable for fd00:61:9::/64 (by a filter
// rule), and drops fd00:61:7::/64 silently. Routers answer without rate
// limits; quiet and forger send with hop limit 255, far with 64. Names:
// six.nsd.test has an AAAA record only (fd00:61:4::2, which is six.nsd.test
// in reverse), dual.nsd.test both records; the routers' IPv6 addresses have
// their names in reverse.
namespace net {
inline constexpr const char* Client = "10.61.1.2";
inline constexpr const char* R1 = "10.61.1.1";
inline constexpr const char* R2 = "10.61.2.2";
inline constexpr const char* R3 = "10.61.3.2";
inline constexpr const char* Far = "10.61.4.2";
inline constexpr const char* FarNoName = "10.61.4.3";
inline constexpr const char* Quiet = "10.61.5.2";
inline constexpr const char* Forger = "10.61.6.2";
inline constexpr const char* HostUnreachable = "10.61.9.5";
inline constexpr const char* NetUnreachable = "10.61.8.5";
inline constexpr const char* SilentNet = "10.61.7.";
inline constexpr const char* TenthNet = "10.61.10.";
inline constexpr const char* Client6 = "fd00:61:1::2";
inline constexpr const char* R1_6 = "fd00:61:1::1";
inline constexpr const char* R2_6 = "fd00:61:2::2";
inline constexpr const char* R3_6 = "fd00:61:3::2";
inline constexpr const char* Far6 = "fd00:61:4::2";
inline constexpr const char* FarNoName6 = "fd00:61:4::3";
inline constexpr const char* Quiet6 = "fd00:61:5::2";
inline constexpr const char* Forger6 = "fd00:61:6::2";
inline constexpr const char* Blackholed6 = "fd00:61:7::5";
inline constexpr const char* NetUnreachable6 = "fd00:61:8::5";
inline constexpr const char* HostUnreachable6 = "fd00:61:9::5";
inline constexpr const char* R1LinkLocal = "fe80::61:1%c0";
} // namespace net

// Call from a static initializer of the test program.
void RequestTestNetwork();
// Called by the test main before any thread exists, and when it ends. A
// program that only lists its tests builds nothing.
void EnterRequestedTestNetwork(bool onlyListing = false);
void LeaveTestNetwork();

// True when the network was built and this process runs inside it.
bool InTestNetwork();
// Why the network could not be built (for test skip messages).
std::string TestNetworkProblem();

// The name of one node's namespace ("far" ...), for `ip -n`; empty when
// there is no network.
std::string NodeNamespace(const char* node);

// Opens a socket (AF_INET unless given) inside one node of the network
// ("forger", "far", ...); -1 when that fails or there is no network.
int SocketInNode(const char* node, int type, int protocol, int family = AF_INET);

} // namespace netsonde::test

#pragma once

#include <string>

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

// Opens an AF_INET socket inside one node of the network ("forger", "far",
// ...); -1 when that fails or there is no network.
int SocketInNode(const char* node, int type, int protocol);

} // namespace netsonde::test

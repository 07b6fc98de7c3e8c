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
//
// r2 reports 10.61.9.0/24 as host unreachable and has no route to
// 10.61.8.0/24 (net unreachable). The far and quiet hosts send with TTL 255,
// so a reply's TTL tells how many routers it passed. Routers answer without
// rate limits. Names (forward and reverse): r1/r2/r3/far/quiet.nsd.test.
namespace net {
inline constexpr const char* Client = "10.61.1.2";
inline constexpr const char* R1 = "10.61.1.1";
inline constexpr const char* R2 = "10.61.2.2";
inline constexpr const char* R3 = "10.61.3.2";
inline constexpr const char* Far = "10.61.4.2";
inline constexpr const char* FarNoName = "10.61.4.3";
inline constexpr const char* Quiet = "10.61.5.2";
inline constexpr const char* HostUnreachable = "10.61.9.5";
inline constexpr const char* NetUnreachable = "10.61.8.5";
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

} // namespace netsonde::test

#pragma once

namespace netsonde::test {

// A test program that calls RequestPrivateNetwork() from a static
// initializer runs in a network namespace of its own: only loopback, up,
// and both kinds of ICMP socket allowed (ping_group_range open to every
// group), plus a silent neighbour (IPv4 and IPv6). Needs root; without it the program stays where
// it is.
void RequestPrivateNetwork();
void EnterRequestedNetwork();
bool InPrivateNetwork();
// An address in the private network that takes echo requests and never
// answers (a neighbour that drops them); nullptr when it could not be made.
const char* SilentAddress();
// The same neighbour's IPv6 address.
const char* SilentAddress6();

} // namespace netsonde::test

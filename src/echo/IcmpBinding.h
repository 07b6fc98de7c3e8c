#pragma once

#include "platform/IcmpTypes.h"

#include <cstdint>

// The program's binding of the ICMP echo service library. It is taken once
// at start-up, before any window exists, and released when the program ends.

// True only when the library was loaded and its three entry points found.
bool IcmpAvailable();
int IcmpLoadCount();

// Takes the binding: loads "icmp.dll" through the platform's provider and
// looks up its entry points. On failure shows the Abort/Ignore error box;
// Abort ends the program, Ignore leaves the service disabled.
void IcmpStartupBinding();
// Gives the binding back; the last release frees the library, after waking
// and waiting for every echo request still in flight.
void IcmpReleaseBinding();
// The workers that call into the library: waitForAll stops new ones and
// returns when none is left, allowNew lets them start again. The last
// release calls them around freeing the library. The echo workers
// (TPingThread) hand theirs over when the first one is made.
void IcmpSetWorkerGate(void (*waitForAll)(), void (*allowNew)());

// The bound entry points. With the service disabled they fail: no handle,
// and no request.
IcmpHandle IcmpCreateFile();
// A handle for IPv6 requests; InvalidIcmpHandle also when the library has
// no IPv6 calls or the system no IPv6 ICMP socket.
IcmpHandle Icmp6CreateFile();
void IcmpCloseHandle(IcmpHandle handle);

// One blocking echo request: PacketSize bytes of 0xAA with the given
// options, waiting at most TimeOut ms. Returns 0 with the reply record in
// Reply, or the last error code after the failed call with Reply untouched.
int EchoRequest(IcmpHandle Handle, const TIpOptions& Options, TEchoReply& Reply,
                std::uint32_t Address, int PacketSize, std::uint16_t TimeOut);

// The same for an IPv6 destination, on a handle from Icmp6CreateFile.
int Echo6Request(IcmpHandle Handle, const TIpOptions& Options, TEcho6Reply& Reply,
                 const TIpv6Address& Address, int PacketSize, std::uint16_t TimeOut);

// Takes the binding for the lifetime of the object.
class IcmpBindingScope {
public:
    IcmpBindingScope() { IcmpStartupBinding(); }
    ~IcmpBindingScope() { IcmpReleaseBinding(); }
    IcmpBindingScope(const IcmpBindingScope&) = delete;
    IcmpBindingScope& operator=(const IcmpBindingScope&) = delete;
};

#pragma once

#include "platform/IcmpTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// The three entry points of the ICMP echo service.
using IcmpCreateFileFn = std::function<IcmpHandle()>;
using IcmpCloseHandleFn = std::function<bool(IcmpHandle)>;
// handle, destination (network byte order), request data, request size,
// request options, reply buffer, reply buffer size, time-out in ms;
// returns the number of replies written, 0 with the last error set otherwise.
using IcmpSendEchoFn =
    std::function<std::uint32_t(IcmpHandle, std::uint32_t, const void*, std::uint16_t,
                                const TIpOptions*, void*, std::uint32_t, std::uint32_t)>;

// handle, destination, request data, request size, request options (Ttl is
// the hop limit), reply buffer, reply buffer size, time-out in ms; the IPv6
// call beside the IPv4 one, answering with a TEcho6Reply.
using Icmp6SendEchoFn =
    std::function<std::uint32_t(IcmpHandle, const TIpv6Address*, const void*, std::uint16_t,
                                const TIpOptions*, void*, std::uint32_t, std::uint32_t)>;

// A loaded service library: looks its entry points up by name. A name it
// does not export yields an empty function.
class IcmpLibrary {
public:
    virtual ~IcmpLibrary() = default;
    virtual IcmpCreateFileFn CreateFileEntry(const std::string& name) = 0;
    virtual IcmpCloseHandleFn CloseHandleEntry(const std::string& name) = 0;
    virtual IcmpSendEchoFn SendEchoEntry(const std::string& name) = 0;
    // The IPv6 call; its handles come from CreateFileEntry("Icmp6CreateFile").
    // A library without IPv6 leaves both empty.
    virtual Icmp6SendEchoFn SendEcho6Entry(const std::string&) { return {}; }
    // Wakes every request that waits for an answer, so that it returns at
    // once; called before the library is released at program end.
    virtual void InterruptRequests() {}
};

// Loads the service library by name; nullptr when it cannot be loaded (and
// the reason is then available from Reason()).
class IcmpLibraryProvider {
public:
    virtual ~IcmpLibraryProvider() = default;
    virtual std::unique_ptr<IcmpLibrary> Load(const std::string& name) = 0;
    // A line for the user that names why the last Load failed and how to fix it.
    virtual std::string Reason() const { return {}; }
};

// The provider in use: the Linux ICMP sockets unless a test installed another.
IcmpLibraryProvider& IcmpProvider();
std::unique_ptr<IcmpLibraryProvider>
SetIcmpProvider(std::unique_ptr<IcmpLibraryProvider> replacement);

} // namespace platform

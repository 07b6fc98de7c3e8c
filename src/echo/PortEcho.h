#pragma once

#include "platform/IcmpTypes.h"
#include "platform/PortProbes.h"
#include "platform/ProbeEntry.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

// The TCP or UDP probe that stands in for an echo request when an entry
// names a port (see platform/ProbeEntry.h): the echo components send it
// through here and read its outcome as the records of an echo reply, so
// that counting, statistics, states and history are the same as for ICMP.
// Only the lines say what answered.
class PortEcho {
public:
    PortEcho();
    ~PortEcho();
    PortEcho(const PortEcho&) = delete;
    PortEcho& operator=(const PortEcho&) = delete;

    // Starts one probe on the window thread's event loop; done follows
    // there, never from within Send, and never after this object is gone.
    void Send(const platform::PortProbes::Target& target, std::uint8_t ttl, std::uint16_t timeoutMs,
              std::function<void(const platform::PortProbes::Outcome&)> done);
    // The same, blocking the calling thread.
    static platform::PortProbes::Outcome SendNow(const platform::PortProbes::Target& target,
                                                 std::uint8_t ttl, std::uint16_t timeoutMs);

    // The outcome as an echo request leaves it: Status 0 with the reply
    // records filled when a node answered (the destination, or a router's
    // error), else the status alone and the records as they were.
    static void Fill(const platform::PortProbes::Outcome& outcome, int family, int& status,
                     TEchoReply& reply, TEcho6Reply& reply6);

    // The probe-in-flight table of the event loop: the look-ahead sends
    // its own probes there.
    platform::PortProbes& Probes() { return *FProbes; }

    // The probe's target: an IPv4 address, or (family AfInet6) an IPv6 one.
    static platform::PortProbes::Target TargetOf(int family, std::uint32_t address,
                                                 const TIpv6Address& address6,
                                                 platform::ProbeKind kind, std::uint16_t port);

    // What answered, as the lines say it: "connected", "refused", "reply",
    // "port unreachable"; empty for none.
    static QString AnswerWords(platform::PortAnswer answer);
    // A host and the port part of its entry: "far:443", "[fd00::2]:53/udp".
    static QString HostWithPort(const QString& host, platform::ProbeKind kind, std::uint16_t port);

private:
    std::unique_ptr<platform::PortProbes> FProbes;
};

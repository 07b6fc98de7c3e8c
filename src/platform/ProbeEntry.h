#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// The entries of the address lists as the probes read them. An entry that
// names a port is probed over TCP or UDP instead of ICMP echo:
//
//   host:port          TCP to port (host a name or an IPv4 address)
//   host:port/udp      UDP to port ("/tcp" names TCP explicitly)
//   [address]:port     the same for an IPv6 address, with or without "/udp"
//
// Any other text is a plain entry, probed with ICMP echo, its host the whole
// text (an IPv6 address without brackets stays plain). The entry's text is
// never rewritten: lists, dialogs and files keep it exactly as typed.
namespace platform {

enum class ProbeKind { Icmp, Tcp, Udp };

struct ProbeEntry {
    ProbeKind kind = ProbeKind::Icmp;
    QString host;           // what the resolver looks up, without brackets or port
    std::uint16_t port = 0; // 0 for ICMP
};

// Reads an entry. A text that names a port badly ("host:", "host:0",
// "host:99999", "[fd00::1]:x", "host:80/sctp") gives no entry and a
// message in error that says what is wrong with it.
std::optional<ProbeEntry> ParseProbeEntry(const QString& text, QString* error = nullptr);

// Reads a target of the prober: "tcp://host:port", "udp://host:port" (the
// host of an IPv6 address in brackets), or an entry as ParseProbeEntry
// reads it (its host trimmed). A target that names a port badly gives no
// entry and a message in error.
std::optional<ProbeEntry> ParseProbeTarget(const QString& text, QString* error = nullptr);

// The prober's own text of a target: "tcp://host:port", "udp://[v6]:port",
// or the host of an ICMP target.
QString ProbeTargetText(const ProbeEntry& entry);

// The entry's port part as the lines show it: ":443", ":53/udp"; empty for
// ICMP.
QString PortSuffix(ProbeKind kind, std::uint16_t port);

// "tcp", "udp" or "icmp", as metric labels and reports name the probe kind.
const char* ProbeKindName(ProbeKind kind);

} // namespace platform

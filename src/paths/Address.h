#pragma once

#include "platform/AsyncEcho.h"

#include <QString>
#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace paths {

// The address of a node on a path: its family (4 or 6; 0 for none) and its
// bytes in network order (4 used for IPv4, the rest zero). Ordered and
// hashable, so that it can key the responders of a hop and the name cache.
struct Address {
    int family = 0;
    std::array<std::uint8_t, 16> bytes{};

    bool IsNull() const { return family == 0; }
    // The usual text form ("192.0.2.1", "2001:db8::1"); empty for none.
    QString ToString() const;
    auto operator<=>(const Address&) const = default;
};

struct AddressHash {
    std::size_t operator()(const Address& a) const noexcept;
};

// The address of a target (its scope, if any, left out).
Address AddressOf(const platform::AsyncEcho::Target& target);

// Reads an address literal: dotted IPv4, or IPv6 with or without brackets
// and with an optional zone ("fe80::1%eth0", by name or number). Nothing for
// anything else: names are the resolver's business, not this function's.
std::optional<platform::AsyncEcho::Target> ParseTarget(const QString& text);
// The text of a target's address, with its zone number when it has one.
QString TargetText(const platform::AsyncEcho::Target& target);

// A route as one round saw it or as the watch holds it: for each TTL from 1
// (index 0) the responders seen there; an empty set where nobody answered,
// which matches any responder.
using Route = std::vector<std::vector<Address>>;
// "10.0.0.1 10.0.0.2 * 10.0.0.4", a set as "a|b", "*" for no answer.
QString RouteText(const Route& route);

} // namespace paths

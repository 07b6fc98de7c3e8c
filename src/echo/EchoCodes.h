#pragma once

#include "platform/IcmpTypes.h"
#include "platform/WinSock.h"

#include <cstdint>

// The echo engine's own status codes, with the top bit set.
constexpr int ErrNoHandle = static_cast<int>(0x80000100u);
constexpr int ErrCancelled = static_cast<int>(0x80000103u);
constexpr int ErrInProgress = static_cast<int>(0x80000104u);
// An entry that names a port badly ("host:0", "host:80/sctp").
constexpr int ErrBadEntry = static_cast<int>(0x80000105u);

// The status of one echo as the components report it and the history keeps
// it: the ICMP service's codes that a run's outcome turns on.
namespace EchoStatus {
constexpr int Answered = static_cast<int>(IcmpStatus::Success);
constexpr int HostUnreachable = static_cast<int>(IcmpStatus::DestHostUnreachable);
constexpr int TimedOut = static_cast<int>(IcmpStatus::ReqTimedOut);
constexpr int TtlExpired = static_cast<int>(IcmpStatus::TtlExpiredTransit);
// The unreachable codes run from the net's to the port's.
constexpr int FirstUnreachable = static_cast<int>(IcmpStatus::DestNetUnreachable);
constexpr int LastUnreachable = static_cast<int>(IcmpStatus::DestPortUnreachable);

constexpr bool IsUnreachable(int status) {
    return status >= FirstUnreachable && status <= LastUnreachable;
}
} // namespace EchoStatus

// "No address": all bits set, as the socket library's conversions give it.
constexpr std::uint32_t NoAddress = platform::InaddrNone;

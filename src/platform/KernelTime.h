#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

// The kernel's receive time of each message an ICMP socket reads.
//
// A round trip read from a clock after the reading thread wakes up carries
// the scheduler's delay; the time the kernel stamped on the packet when it
// arrived does not. The kernel gives it on the realtime clock, so the stamp
// is aged against that clock at the moment it is read and the age taken off
// the steady clock, on which every send time of the program is kept.
namespace platform {

using SteadyClock = std::chrono::steady_clock;

// Asks the kernel to stamp every message the socket receives, its error
// queue included (SO_TIMESTAMPNS). False where the socket refuses: its
// messages then carry no stamp, and ReceivedAt falls back to the clock.
bool StampReceives(int fd);

// The stamp among a message's ancillary data, in nanoseconds of the
// realtime clock; nothing when the message carries none or the data is
// malformed.
std::optional<std::int64_t> ReceiveStamp(std::span<const std::uint8_t> control);

// When a message whose request left at `sent` was received, on the steady
// clock: the kernel's stamp where the message has one and it lies between
// the send and now, else now (no stamp, or the realtime clock was set
// meanwhile).
SteadyClock::time_point ReceivedAt(std::span<const std::uint8_t> control,
                                   SteadyClock::time_point sent);

// The same for a stamp already taken out of its message.
SteadyClock::time_point ReceivedAt(std::optional<std::int64_t> stamp, SteadyClock::time_point sent);

} // namespace platform

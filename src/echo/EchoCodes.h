#pragma once

#include "platform/WinSock.h"

#include <cstdint>

// The echo engine's own status codes, with the top bit set.
constexpr int ErrNoHandle = static_cast<int>(0x80000100u);
constexpr int ErrCancelled = static_cast<int>(0x80000103u);
constexpr int ErrInProgress = static_cast<int>(0x80000104u);

// "No address": all bits set, as the socket library's conversions give it.
constexpr std::uint32_t NoAddress = platform::InaddrNone;

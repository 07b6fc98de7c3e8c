#pragma once

#include <cstdint>

namespace platform {

// The calling thread's last error code, as the system services of this layer
// leave it after a failed call (the ICMP service's 11010 for a time-out, a
// socket library code for a failed lookup).
std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

} // namespace platform

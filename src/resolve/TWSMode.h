#pragma once

#include <cstdint>

// How a component does its blocking work: inline on the window thread, or
// on a worker thread / as an asynchronous request.
enum TWSMode : std::uint8_t { wsmBlocking = 0, wsmAsync = 1 };

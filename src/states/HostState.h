#pragma once

#include <QString>
#include <cstdint>

namespace states {

// Every state a host can be in, in one vocabulary for the whole program.
//
// Unknown, Up, Degraded and Down are what the watch over a host concludes
// from its automatic runs; the history stores them by these numbers (keep
// them). None, TimedOut and Answered are what the last run of a host in the
// main window's list showed.
enum class HostState : std::uint8_t {
    Unknown = 0,  // not enough runs yet to say
    Up = 1,       // answers
    Degraded = 2, // answers, but slowly or losing echoes
    Down = 3,     // stopped answering
    None = 4,     // no results in the list
    TimedOut = 5, // a result line says "timed out"
    Answered = 6, // results, none of them timed out
};

// The picture of a state in the list's image of states: 0 for none (and
// every watch state), 1 for timed out, 2 for answered.
int PictureIndex(HostState state);

// The words a screen reader says of the state: "not checked", "timed out",
// "answered", "degraded", "down", "up", "unknown".
QString SpokenWords(HostState state);

// The state's name in metrics, settings and exports: "unknown", "up",
// "degraded", "down"; the list's states are "unknown" there.
const char* MetricLabel(HostState state);

// The watch state stored under number, or Unknown for any other number.
HostState FromStored(int number);

} // namespace states

#pragma once

#include <QStringList>

namespace probe {

// Exit statuses of the prober.
inline constexpr int ExitUsage = 2;  // bad options, config or host list
inline constexpr int ExitNoIcmp = 3; // no kind of ICMP socket can be had

// Runs the prober as its main function does, on a QCoreApplication that
// exists already; returns the exit status.
int RunProbe(const QStringList& arguments);

} // namespace probe

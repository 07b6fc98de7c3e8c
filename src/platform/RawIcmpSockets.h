#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Where the echo engine gets its raw ICMP sockets. The program never holds a
// capability itself: a raw socket is opened directly only when the process
// already may (root), and otherwise comes from the small helper program
// icmp-helper, which alone carries cap_net_raw, drops it and passes the
// sockets over a socket pair. The echo engine shares one raw socket per
// family between all its requests, so the helper runs about once per family
// and program run.
namespace platform::rawicmp {

// A raw ICMP socket of the family: AF_INET (IPPROTO_ICMP) or AF_INET6
// (IPPROTO_ICMPV6), close-on-exec, without any filter set. -1 with errno set
// when neither way gives one (EACCES/EPERM when the helper is missing or may
// not be run by this user). Safe to call from any thread.
int OpenRawSocket(int family);
// Gives a socket from OpenRawSocket back for a later call instead of closing
// it (the start-up probe uses it); closes it when enough are kept already.
void KeepRawSocket(int family, int fd);
// Closes the kept sockets and forgets an earlier failure of the helper.
void ForgetRawSockets();
// How many times this process has started a helper (diagnostics, tests).
std::size_t HelperRuns();

// The paths where the helper is looked for, in order: beside an installed
// program (<prefix>/lib/netsonde/icmp-helper for <prefix>/bin/netsonde),
// beside the program in a build tree, and the packaged path.
std::vector<std::string> HelperCandidates();
// Tests point the engine at a helper of their own; std::nullopt restores
// the candidates above.
void SetHelperPathForTesting(std::optional<std::string> path);

// One run of a helper program: starts it from an empty environment with the
// channel as fd 3 and the counts as its arguments, takes the sockets it
// sends (checked to be raw ICMP sockets of the right family, in the right
// number), and reaps it. A helper that sends nothing within the time-out is
// killed. On failure both lists are empty and error holds an errno value:
// the helper's own when it could not open a socket, ENOENT/EACCES when it
// could not be started, EPROTO when it sent something else, ETIMEDOUT.
struct HelperSockets {
    std::vector<int> inet;
    std::vector<int> inet6;
    int error = 0;
};
HelperSockets RunHelper(const std::string& path, int inetCount, int inet6Count,
                        std::chrono::milliseconds timeout);

} // namespace platform::rawicmp

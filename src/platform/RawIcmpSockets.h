#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/IcmpBroker.h"

// Where the echo engine gets raw ICMP. The program never holds a capability
// itself: a raw socket is opened directly only when the process already may
// (root); everybody else sends raw echo requests through the echo broker
// icmp-helper, which alone carries cap_net_raw and keeps its sockets to
// itself. One broker serves the whole process; it is started at the first
// need and again only after it ended.
namespace platform::rawicmp {

// A raw ICMP socket of the family, opened by this process itself: AF_INET
// (IPPROTO_ICMP) or AF_INET6 (IPPROTO_ICMPV6), close-on-exec, without any
// filter set. -1 with errno set (EPERM/EACCES without the privilege).
int OpenRawSocket(int family);

// The process's broker, started when there is none or the last one ended.
// nullptr with errno set when no broker can be had (EACCES when there is no
// helper or this user may not run it). A start that failed is not tried
// again until ForgetRawSockets.
std::shared_ptr<IcmpBroker> Broker();
// The broker if one runs now; never starts one.
std::shared_ptr<IcmpBroker> RunningBroker();
// Lets go of the broker (requests on it keep it until they end) and forgets
// an earlier failure to start one.
void ForgetRawSockets();
// How many times this process has started a broker (diagnostics, tests).
std::size_t HelperRuns();

// Where the helper is looked for, in order: the path fixed when the program
// was built (the install prefix's lib/netsonde), then, only for a program
// that runs from its own build tree, the helper built there. Never beside
// wherever the program was copied.
std::vector<std::string> HelperCandidates();
// Tests point the engine at a helper of their own; std::nullopt restores
// the candidates above.
void SetHelperPathForTesting(std::optional<std::string> path);

} // namespace platform::rawicmp

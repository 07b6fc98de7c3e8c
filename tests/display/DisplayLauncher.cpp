// Runs a command inside the client namespace of the routed test network:
// builds the network, runs the command there and tears the network down.
//   display_launcher <command> [arguments...]
// Exits with the command's status, or 77 (skipped) when the network cannot
// be built (not root, tools missing).
#include "support/TestNetwork.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

using namespace netsonde::test;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <command> [arguments...]\n", argv[0]);
        return 2;
    }
    RequestTestNetwork();
    EnterRequestedTestNetwork();
    if (!InTestNetwork()) {
        std::printf("skipped: %s\n", TestNetworkProblem().c_str());
        return 77;
    }
    // Tests that start a service on the far host run it in this namespace.
    ::setenv("NETSONDE_FAR_NAMESPACE", NodeNamespace("far").c_str(), 1);
    std::fflush(stdout);
    int status = 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        ::_exit(127);
    }
    if (child > 0 && ::waitpid(child, &status, 0) == child)
        status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    else
        status = 1;
    LeaveTestNetwork();
    return status;
}

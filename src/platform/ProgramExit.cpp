#include "platform/ProgramExit.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {
TerminateAction& action() {
    static TerminateAction a;
    return a;
}
} // namespace

void TerminateProgram(int exitCode) {
    if (action())
        action()(exitCode);
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

void SetTerminateAction(TerminateAction a) {
    action() = std::move(a);
}

} // namespace platform

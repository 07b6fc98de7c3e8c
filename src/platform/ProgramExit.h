#pragma once

#include <functional>

namespace platform {

// Ends the program at once, as the Abort answer of a start-up error box
// requires. Tests replace the action to observe it instead of exiting.
[[noreturn]] void TerminateProgram(int exitCode);

using TerminateAction = std::function<void(int exitCode)>;
// Installs a replacement; an empty action restores the real one. A
// replacement that returns is followed by std::_Exit so that nothing after
// the Abort ever runs.
void SetTerminateAction(TerminateAction action);

} // namespace platform

#pragma once

#include "platform/Messages.h"

#include <memory>

class QWidget;

namespace platform {

// The window a message box belongs to: the active modal window, else the
// active window, else none.
QWidget* BoxOwner();

// The toolkit's message boxes: each box is modal to the window that asked
// and placed over it.
std::unique_ptr<MessageBoxes> ToolkitMessageBoxes();

// Makes the toolkit's boxes the default layer of platform::Messages(). A
// program with windows calls it once, right after creating the application.
void UseToolkitMessageBoxes();

} // namespace platform

#pragma once

#include <functional>

namespace platform {

// Queues fn to run on the window (GUI) thread from its event loop. Safe to
// call from any thread. Returns false, and drops fn, when the application
// object is gone and nothing would ever run it.
bool PostToWindowThread(std::function<void()> fn);

// Lets the window thread process the messages (events) that are waiting.
void ProcessMessages();

bool IsWindowThread();

// Records the running application as the receiver of posted work. Called on
// the window thread before work that will post from other threads starts.
void AttachWindowThread();

} // namespace platform

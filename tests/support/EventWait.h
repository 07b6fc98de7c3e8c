#pragma once

#include "support/Sanitizers.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <functional>

namespace netsonde::test {

// Runs the window thread's event loop until done() holds, or gives up after
// a generous bound (longer in sanitizer builds) so that a broken test
// fails instead of hanging.
inline bool WaitUntil(const std::function<bool()>& done, int boundMs = 10000) {
    QDeadlineTimer deadline(Scaled(boundMs));
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

} // namespace netsonde::test

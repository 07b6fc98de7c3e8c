#pragma once

#include <QString>
#include <functional>
#include <utility>

class QObject;

// Event handlers that a form assigns to a component. Each takes the sender
// first; an empty handler means "not assigned" and the event is skipped.
using TNotifyEvent = std::function<void(QObject* Sender)>;

// Calls an event's handler if one is assigned. The call goes to a copy, so a
// handler may replace or clear its own event while it runs.
template <class Handler, class... Args> void FireEvent(const Handler& event, Args&&... args) {
    if (event) {
        Handler handler = event;
        handler(std::forward<Args>(args)...);
    }
}

#pragma once

#include <QString>
#include <functional>

class QObject;

// Event handlers that a form assigns to a component. Each takes the sender
// first; an empty handler means "not assigned" and the event is skipped.
using TNotifyEvent = std::function<void(QObject* Sender)>;

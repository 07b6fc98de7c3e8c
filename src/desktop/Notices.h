#pragma once

#include <QString>

namespace platform {

// Sends one desktop notification through the freedesktop notification
// service on the session bus, without waiting for an answer: without a bus
// or without the service nothing happens and nothing fails. With
// suppressSound the desktop is asked not to play a sound of its own (the
// program plays one). The body is shown as written, names and all: where
// the service reads markup in bodies, its special characters are escaped.
void SendNotice(const QString& summary, const QString& body, bool suppressSound);

} // namespace platform

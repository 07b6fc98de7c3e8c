#pragma once

#include <QEvent>
#include <cstdint>

namespace platform {

// A window message as an event: its number is the event type, and it
// carries the two message parameters.
class WindowMessage : public QEvent {
public:
    WindowMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
        : QEvent(static_cast<QEvent::Type>(msg)), wParam(wParam), lParam(lParam) {}

    unsigned Msg() const { return static_cast<unsigned>(type()); }

    std::uintptr_t wParam;
    std::intptr_t lParam;
};

// The first message number free for a program's own messages.
constexpr unsigned WM_USER = 0x0400;

} // namespace platform

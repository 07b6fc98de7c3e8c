#pragma once

#include "desktop/NotifyArea.h"

#include <QList>
#include <memory>

namespace netsonde::test {

// A notification area without a desktop. Records every call with the record
// it was given, keeps the icons that are in it, answers like the real area
// (adding a shown icon or changing a missing one fails) and delivers mouse
// notifications to an icon's receiver. Installed for its lifetime.
class FakeNotifyArea {
public:
    struct Call {
        unsigned message;
        platform::NOTIFYICONDATA data;
    };

    FakeNotifyArea();
    ~FakeNotifyArea();

    QList<Call> calls;
    // The icons in the area now.
    QList<platform::NOTIFYICONDATA> icons;
    // What Available() answers.
    bool available = true;

    // Sends the mouse message (platform::WM_LBUTTONUP...) to the receiver of
    // the only icon in the area, as the area's notification; false when there
    // is no icon.
    bool Mouse(unsigned mouseMessage);
    // The operations of the recorded calls, in order.
    QList<unsigned> Messages() const;

private:
    std::unique_ptr<platform::NotifyArea> previous;
};

} // namespace netsonde::test

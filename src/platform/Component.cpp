#include "platform/Component.h"

#include <QObject>
#include <QVariant>

namespace platform {

bool IsDesigning(const QObject* component) {
    for (const QObject* o = component; o != nullptr; o = o->parent()) {
        if (o->property("csDesigning").toBool())
            return true;
    }
    return false;
}

void SetDesigning(QObject* owner, bool designing) {
    owner->setProperty("csDesigning", designing);
}

} // namespace platform

#include "controls/GraphicControl.h"

#include <QEvent>
#include <QWidget>

namespace {

constexpr const char* kGraphicProperty = "netsonde_graphic_control";

void restack(QWidget* w) {
    QWidget* parent = w->parentWidget();
    if (!parent)
        return;
    // Children are listed from the bottom of the stack to the top.
    for (QObject* child : parent->children()) {
        auto* sibling = qobject_cast<QWidget*>(child);
        if (sibling && sibling != w && !sibling->isWindow() && !IsGraphicControl(sibling)) {
            w->stackUnder(sibling);
            return;
        }
    }
    w->raise();
}

// Restacks a windowless control whenever it moves to another parent.
class Restacker : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ParentChange)
            restack(static_cast<QWidget*>(watched));
        return false;
    }
};

} // namespace

bool IsGraphicControl(const QWidget* w) {
    return w && w->property(kGraphicProperty).toBool();
}

void StackAsGraphicControl(QWidget* w) {
    if (!IsGraphicControl(w)) {
        w->setProperty(kGraphicProperty, true);
        w->installEventFilter(new Restacker(w));
    }
    restack(w);
}

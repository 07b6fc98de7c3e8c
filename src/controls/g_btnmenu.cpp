#include "controls/g_btnmenu.h"

#include "controls/SystemColors.h"

#include <QCursor>
#include <QMenu>
#include <QPainter>

g_btnmenu::g_btnmenu(QWidget* owner) : TCBitBtn(owner) {
    SetMargin(4);
}

void g_btnmenu::Click() {
    TCBitBtn::Click();
    LeaveHover();
    if (!FMenu)
        return;
    connect(
        FMenu, &QMenu::aboutToHide, this,
        [this] { FRestUntilLeave = rect().contains(mapFromGlobal(QCursor::pos())); },
        Qt::SingleShotConnection);
    FMenu->popup(mapToGlobal(QPoint(0, height() - 1)));
}

void g_btnmenu::enterEvent(QEnterEvent* event) {
    // Resting after its menu closed, the button skips the hover look of its
    // base on purpose.
    if (FRestUntilLeave)
        QPushButton::enterEvent(event); // NOLINT(bugprone-parent-virtual-call)
    else
        TCBitBtn::enterEvent(event);
}

void g_btnmenu::leaveEvent(QEvent* event) {
    FRestUntilLeave = false;
    TCBitBtn::leaveEvent(event);
}

void g_btnmenu::paintEvent(QPaintEvent* event) {
    TCBitBtn::paintEvent(event);
    QPainter canvas(this);
    DrawDropArrow(canvas, rect());
}

void g_btnmenu::DrawDropArrow(QPainter& canvas, const QRect& client) {
    // Exclusive edges: the client shrunk by 2 at the sides and 4 at the top
    // and bottom, the arrow in its last 10 columns.
    const int right = client.x() + client.width() - 2;
    const int top = client.y() + 4;
    const int bottom = client.y() + client.height() - 4;
    const int left = right - 10;
    const int x0 = left + 2;
    const int y0 = top + (bottom - top) / 2 - 1;
    const QColor c = clBtnText.Resolve();
    canvas.fillRect(QRect(x0, y0, 5, 1), c);
    canvas.fillRect(QRect(x0 + 1, y0 + 1, 3, 1), c);
    canvas.fillRect(QRect(x0 + 2, y0 + 2, 1, 1), c);
}

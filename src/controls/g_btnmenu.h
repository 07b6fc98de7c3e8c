#pragma once

#include "controls/TCBitBtn.h"

#include <QPointer>

#include <QMenu>

// A glyph button that drops a popup menu below itself when clicked, marked
// by a small downward arrow at its right edge.
class g_btnmenu : public TCBitBtn {
    Q_OBJECT
public:
    explicit g_btnmenu(QWidget* owner = nullptr);

    // The menu to drop; not owned. A menu destroyed first is forgotten.
    QMenu* Menu() const { return FMenu; }
    void SetMenu(QMenu* value) { FMenu = value; }

    // The glyph button's click, the rest look, then the menu below the
    // button.
    void Click() override;

    // Draws the drop arrow at the right edge of a button's client area.
    static void DrawDropArrow(QPainter& canvas, const QRect& client);

protected:
    void paintEvent(QPaintEvent* event) override;
    // When the menu closes over the button, the window system reports the
    // pointer entering it again; the button stays at rest until the pointer
    // has left it and comes back.
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QPointer<QMenu> FMenu;
    bool FRestUntilLeave = false;
};

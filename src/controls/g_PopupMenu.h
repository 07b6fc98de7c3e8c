#pragma once

#include <QMenu>

// The control set's popup menu: the toolkit's menu, items, radio groups and
// about-to-show signal as they are.
class g_PopupMenu : public QMenu {
public:
    explicit g_PopupMenu(QWidget* owner = nullptr) : QMenu(owner) {}
};

// The Path windows of the entries: "Watch Path…" in the list's context menu
// and Ctrl+Shift+P open (or raise) the window of the entry under the mouse
// or the selected one. Each window is a child of the main window that runs
// its own watch; the main window only finds them again.
#include "app/Tfm_ns.h"

#include "controls/g_listbox.h"
#include "hosts/HostList.h"
#include "pathview/Tfm_path.h"

#include <QAction>
#include <QScreen>
#include <algorithm>

namespace {

QList<pathview::Tfm_path*> OpenPaths(const QWidget* window) {
    QList<pathview::Tfm_path*> open;
    // Closed ones are on their way out (deleted later).
    for (auto* w : window->findChildren<pathview::Tfm_path*>(QString(), Qt::FindDirectChildrenOnly))
        if (w->Watch() || w->isVisible())
            open.append(w);
    return open;
}

} // namespace

void Tfm_ns::BuildPathMenu() {
    WatchPath1 = new QAction(QStringLiteral("Watch &Path\u2026"), this);
    WatchPath1->setObjectName(QStringLiteral("WatchPath1"));
    WatchPath1->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    WatchPath1->setShortcutContext(Qt::WindowShortcut);
    addAction(WatchPath1);
    connect(WatchPath1, &QAction::triggered, this, [this] {
        const QVariant row = WatchPath1->data();
        ShowPath(row.isValid() ? row.toInt() : lb_add->ItemIndex());
    });
}

void Tfm_ns::ShowPath(int Index) {
    if (Index >= 0 && Index < FHosts->Count())
        ShowPathOf(FHosts->Item(Index));
}

void Tfm_ns::ShowPathOf(const QString& Entry) {
    if (Entry.trimmed().isEmpty())
        return;
    for (pathview::Tfm_path* open : OpenPaths(this))
        if (open->Entry() == Entry) {
            open->raise();
            open->activateWindow();
            return;
        }
    auto* window = new pathview::Tfm_path(Entry, this);
    // Over the main window, a step down and right for each one open, whole
    // on its screen.
    const int step = 24 * static_cast<int>(OpenPaths(this).size() - 1);
    QRect place(QPoint(), window->size());
    place.moveCenter(frameGeometry().center() + QPoint(step, step));
    if (QScreen* s = screen()) {
        const QRect room = s->availableGeometry();
        place.moveLeft(std::clamp(place.left(), room.left(),
                                  std::max(room.left(), room.right() - place.width())));
        place.moveTop(std::clamp(place.top(), room.top(),
                                 std::max(room.top(), room.bottom() - place.height())));
    }
    window->move(place.topLeft());
    window->show();
    window->raise();
    window->activateWindow();
}

QStringList Tfm_ns::WatchedPaths() const {
    QStringList entries;
    for (const pathview::Tfm_path* open : OpenPaths(this))
        entries.append(open->Entry());
    return entries;
}

// The window's side of the history of runs: the record of every ended run
// goes to the history's store (and to the alert watch), and the history
// window of an entry opens from the list's context menu or with Ctrl+H. The
// menu also holds the entry's Path window (Tfm_nsPaths.cpp).
#include "app/Tfm_ns.h"

#include "app/TAlertWatch.h"
#include "controls/g_listbox.h"
#include "history/THistoryStore.h"
#include "historyview/THistory.h"
#include "historyview/Tfm_history.h"
#include "hosts/HostList.h"
#include "runs/RunRecorder.h"

#include <QAction>
#include <QMenu>
#include <QScreen>
#include <algorithm>

void Tfm_ns::BuildHistoryMenu() {
    History1 = new QAction(QStringLiteral("History\u2026"), this);
    History1->setObjectName(QStringLiteral("History1"));
    History1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    History1->setShortcutContext(Qt::WindowShortcut);
    History1->setEnabled(false);
    addAction(History1);
    connect(History1, &QAction::triggered, this, [this] {
        const QVariant row = History1->data();
        ShowHistory(row.isValid() ? row.toInt() : lb_add->ItemIndex());
        History1->setData({});
    });
    lb_add->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lb_add, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        // The entry under the mouse, else the selected one.
        const QModelIndex under = lb_add->indexAt(at);
        const int row = under.isValid() ? under.row() : lb_add->ItemIndex();
        QMenu menu(this);
        menu.setObjectName(QStringLiteral("historyMenu"));
        if (row >= 0 && FHistory) {
            History1->setData(row);
            menu.addAction(History1);
        }
        // The alerts hold for the whole list, also an empty one.
        if (FHistory || Alerts1->isEnabled())
            menu.addAction(Alerts1);
        if (row >= 0) {
            WatchPath1->setData(row);
            menu.addAction(WatchPath1);
        }
        if (!menu.isEmpty())
            menu.addSeparator();
        menu.addAction(Hide1);
        if (!menu.exec(lb_add->viewport()->mapToGlobal(at)))
            History1->setData({});
        // A chosen item has run by now; the keys go to the selection again.
        WatchPath1->setData({});
    });
}

void Tfm_ns::SetHistory(history::THistory* History) {
    delete FHistory.data();
    // Windows on their way from the old history never come.
    FHistoryComing.clear();
    FHistory = History;
    History1->setEnabled(History != nullptr);
    if (!History) {
        ConnectRecords();
        return;
    }
    History->setParent(this);
    ConnectRecords();
    if (FAlerts)
        FAlerts->AttachHistory(History->Store());
    // Open history windows follow the runs as they are written.
    connect(History->Store(), &history::THistoryStore::Written, this, [this] {
        for (auto* open :
             findChildren<history::Tfm_history*>(QString(), Qt::FindDirectChildrenOnly))
            open->Refresh();
    });
}

history::THistory* Tfm_ns::History() const {
    return FHistory.data();
}

void Tfm_ns::ShowHistory(int Index) {
    if (!FHistory || Index < 0 || Index >= FHosts->Count())
        return;
    const QString entry = FHosts->Item(Index);
    for (auto* open : findChildren<history::Tfm_history*>(QString(), Qt::FindDirectChildrenOnly))
        if (open->Entry() == entry) {
            open->raise();
            open->activateWindow();
            return;
        }
    // A window on its way comes to the front as it opens.
    if (FHistoryComing.contains(entry))
        return;
    FHistoryComing.append(entry);
    // What is queued is written first, so the window shows the latest run.
    const QString path = FHistory->Path();
    FHistory->Store()->Flush(this, [this, path, entry] {
        FHistoryComing.removeOne(entry);
        ShowOver(new history::Tfm_history(path, entry, this));
    });
}

void Tfm_ns::ShowOver(QWidget* Window, QPoint Offset) {
    // Over the main window, and whole on its screen.
    QRect place(QPoint(), Window->size());
    place.moveCenter(frameGeometry().center() + Offset);
    if (QScreen* s = screen()) {
        const QRect room = s->availableGeometry();
        place.moveLeft(std::clamp(place.left(), room.left(),
                                  std::max(room.left(), room.right() - place.width())));
        place.moveTop(std::clamp(place.top(), room.top(),
                                 std::max(room.top(), room.bottom() - place.height())));
    }
    Window->move(place.topLeft());
    Window->show();
    Window->raise();
    Window->activateWindow();
}

void Tfm_ns::ConnectRecords() {
    disconnect(FRecorder, &runs::RunRecorder::Recorded, nullptr, nullptr);
    // The store first: a change of state the watch records follows its run.
    if (FHistory)
        connect(FRecorder, &runs::RunRecorder::Recorded, FHistory->Store(),
                &history::THistoryStore::Record);
    if (FAlerts) {
        connect(FRecorder, &runs::RunRecorder::Recorded, FAlerts.data(), &TAlertWatch::RunEnded);
        connect(FRecorder, &runs::RunRecorder::Recorded, this,
                [this](const history::RunRecord& record) { AlertRunEnded(record.Entry); });
    }
}

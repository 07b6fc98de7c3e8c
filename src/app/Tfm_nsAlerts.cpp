// The window's side of the watch over hosts: the Alerts dialog (from the
// list's context menu, the tray icon's menu or Ctrl+Shift+A), the mark of
// the tray icon, the rounds of the
// automatic mode handed to the watch, and the words assistive technology
// reads for each row of the list.
#include "app/Tfm_ns.h"

#include "alerts/HostStates.h"
#include "app/TAlertWatch.h"
#include "controls/g_listbox.h"
#include "dialogs/Tfm_alerts.h"
#include "historyview/THistory.h"
#include "hosts/HostList.h"
#include "tray/TTrayIcon.h"

#include <QAction>
#include <QMenu>
#include <QMetaObject>

void Tfm_ns::BuildAlerts() {
    Alerts1 = new QAction(QStringLiteral("Alerts\u2026"), this);
    Alerts1->setObjectName(QStringLiteral("Alerts1"));
    Alerts1->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    Alerts1->setShortcutContext(Qt::WindowShortcut);
    Alerts1->setEnabled(false);
    addAction(Alerts1);
    connect(Alerts1, &QAction::triggered, this, [this] { ShowAlerts(); });
    auto* trayMenu = new QMenu(this);
    trayMenu->setObjectName(QStringLiteral("pm_tray"));
    trayMenu->addAction(Alerts1);
    tray->SetPopupMenu(trayMenu);

    // The row texts follow the entries, their results and their states.
    connect(FHosts, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
                if (roles == QList<int>{Qt::AccessibleTextRole})
                    return;
                for (int row = from.row(); row <= to.row(); ++row)
                    UpdateRowText(row);
            });
    connect(FHosts, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                for (int row = first; row <= last; ++row)
                    UpdateRowText(row);
            });
}

void Tfm_ns::SetAlerts(TAlertWatch* Watch) {
    delete FAlerts.data();
    FAlerts = Watch;
    Alerts1->setEnabled(Watch != nullptr);
    if (Watch) {
        Watch->setParent(this);
        Watch->AttachTray(tray);
        Watch->AttachHistory(FHistory ? FHistory->Store() : nullptr);
        connect(FRuns, &runs::RunController::RoundEnded, Watch, &TAlertWatch::RoundEnded);
    }
    ConnectRecords();
}

TAlertWatch* Tfm_ns::Alerts() const {
    return FAlerts.data();
}

void Tfm_ns::ShowAlerts() {
    if (!FAlerts)
        return;
    Tfm_alerts dialog(this);
    dialog.SetSettings(FAlerts->Settings());
    dialog.OnApply = [this](const alerts::AlertSettings& settings) {
        if (FAlerts)
            FAlerts->Apply(settings);
    };
    OfferStartAtLogin(dialog);
    dialog.ShowModal();
}

void Tfm_ns::AlertRunEnded(const QString& entry) {
    // The entry's results are stored after this; its row text follows once
    // they are, also when they are the same lines as before.
    const int row = lb_add->ItemIndex();
    QMetaObject::invokeMethod(
        this,
        [this, row, entry] {
            if (row >= 0 && row < FHosts->Count() && FHosts->Item(row) == entry)
                UpdateRowText(row);
        },
        Qt::QueuedConnection);
}

void Tfm_ns::UpdateRowText(int Index) {
    if (Index < 0 || Index >= FHosts->Count())
        return;
    const QString entry = FHosts->Item(Index);
    const alerts::Status status = FAlerts ? FAlerts->States().StatusOf(entry) : alerts::Status{};
    const QString text = alerts::RowText(entry, FHosts->State(Index), status);
    const QModelIndex row = FHosts->index(Index);
    if (row.data(Qt::AccessibleTextRole).toString() != text)
        FHosts->setData(row, text, Qt::AccessibleTextRole);
}

// The Path windows of the entries: "Watch Path…" in the list's context menu
// and Ctrl+Shift+P open (or raise) the window of the entry under the mouse
// or the selected one. Each window is a child of the main window that runs
// its own watch; the main window finds them again, and hands what their
// watches report to the alert watch and the history.
#include "app/Tfm_ns.h"

#include "alerts/PathAlerts.h"
#include "app/TAlertWatch.h"
#include "controls/g_listbox.h"
#include "history/THistoryStore.h"
#include "historyview/THistory.h"
#include "hosts/HostList.h"
#include "pathview/Tfm_path.h"

#include <QAction>
#include <QDateTime>
#include <QPointer>

namespace {

QList<pathview::Tfm_path*> OpenPaths(const QWidget* window) {
    QList<pathview::Tfm_path*> open;
    // Closed ones are on their way out (deleted later).
    for (auto* w : window->findChildren<pathview::Tfm_path*>(QString(), Qt::FindDirectChildrenOnly))
        if (w->Watch() || w->isVisible())
            open.append(w);
    return open;
}

// The hops of a round as the alerts judge them.
QVector<alerts::PathHop> HopsOf(const paths::PathFigures& figures) {
    QVector<alerts::PathHop> hops;
    hops.reserve(static_cast<qsizetype>(figures.hops.size()));
    for (const paths::HopFigures& h : figures.hops)
        hops.append({h.ttl,
                     h.responders.empty() ? QString() : h.responders.front().address.ToString(),
                     h.forwardedLossPercent});
    return hops;
}

// A route as the notices list it: each TTL's responders, "*" for none.
QStringList RouteList(const paths::Route& route) {
    QStringList hops;
    for (const auto& at : route) {
        QStringList nodes;
        for (const paths::Address& a : at)
            nodes << a.ToString();
        hops << (nodes.isEmpty() ? QStringLiteral("*") : nodes.join(QLatin1Char('|')));
    }
    return hops;
}

} // namespace

void Tfm_ns::FollowPath(pathview::Tfm_path* Window) {
    paths::PathWatch* watch = Window->Watch();
    if (!watch)
        return;
    const QString entry = Window->Entry();
    const QString target = paths::TargetText(watch->WatchedTarget());
    connect(watch, &paths::PathWatch::RoundEnded, this, [this, watch, entry] {
        if (FAlerts)
            FAlerts->PathRound(entry, HopsOf(watch->Figures()),
                               QDateTime::currentMSecsSinceEpoch());
    });
    connect(watch, &paths::PathWatch::RouteChanged, this,
            [this, entry, target](const paths::RouteChange& change) {
                if (FHistory)
                    FHistory->Store()->RecordRouteChange(entry, target, change);
                if (!FAlerts || change.kind == paths::RouteChange::Kind::FlappingEnded)
                    return;
                alerts::PathEvent e;
                e.What = change.kind == paths::RouteChange::Kind::Changed
                             ? alerts::PathEvent::Kind::RouteChanged
                             : alerts::PathEvent::Kind::Flapping;
                e.Entry = entry;
                e.TimeMs = change.timeMs;
                e.Before = RouteList(change.before);
                e.After = RouteList(change.after);
                FAlerts->PathRouteChanged(e);
            });
    connect(watch, &paths::PathWatch::MinuteClosed, this,
            [this, entry, target](const QList<paths::MinuteSummary>& minute) {
                if (FHistory)
                    FHistory->Store()->RecordPathMinutes(entry, target, minute);
            });
    // The alert watch forgets the path with its window; the connection goes
    // with the watch, should that go first.
    if (FAlerts)
        connect(Window, &QObject::destroyed, FAlerts.data(),
                [alerts = FAlerts.data(), entry] { alerts->PathGone(entry); });
}

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
    // The window reads its spans from the history file, after the minutes
    // still queued for it have been committed.
    if (FHistory)
        window->SetHistoryFile(FHistory->Path(),
                               [store = QPointer<history::THistoryStore>(FHistory->Store())](
                                   QObject* context, std::function<void()> done) {
                                   if (store)
                                       store->Flush(context, std::move(done));
                                   else
                                       done();
                               });
    // An address is watched at once, a name once it is found.
    if (window->Watch())
        FollowPath(window);
    else
        connect(window, &pathview::Tfm_path::Started, this, [this, window] { FollowPath(window); });
    // A step down and right for each one open.
    const int step = 24 * static_cast<int>(OpenPaths(this).size() - 1);
    ShowOver(window, QPoint(step, step));
}

QStringList Tfm_ns::WatchedPaths() const {
    QStringList entries;
    for (const pathview::Tfm_path* open : OpenPaths(this))
        entries.append(open->Entry());
    return entries;
}

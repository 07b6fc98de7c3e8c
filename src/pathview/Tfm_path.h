#pragma once

#include "paths/EchoSender.h"
#include "paths/PathWatch.h"

#include <QWidget>
#include <memory>
#include <optional>

class QLabel;
class QListWidget;
class QPushButton;
class QTableView;

namespace pathview {

class PathTableModel;

// The path to one entry, live: a top-level window per host, following a
// paths::PathWatch of its own. The entry's name is looked up on a worker
// (an address is taken as it is); until then, and when the name does not
// resolve, the window says so and its commands wait. Then the window shows
// every hop with its figures and recent round trips, lists the route
// changes with their local times, and can pause, reset, copy the plain-text
// report and export it as CSV or JSON.
//
// Closing the window ends its rounds at once: the watch goes with the
// close, and nothing of it calls back afterwards. The window is deleted on
// close; nothing waits for it.
class Tfm_path : public QWidget {
    Q_OBJECT
public:
    explicit Tfm_path(const QString& entry, QWidget* owner = nullptr);
    ~Tfm_path() override;

    const QString& Entry() const { return FEntry; }
    // The watch, from the moment the entry has an address until the window
    // closes; nullptr otherwise.
    paths::PathWatch* Watch() const { return FWatch.get(); }
    PathTableModel* Model() const { return FModel; }
    // What the window says about the watch: looking up, the target with its
    // hops and rounds, paused, flapping, or why there is no watch.
    QString StatusText() const;

    // Writes the report to fileName, replacing a file there only once the
    // new one is complete; false after telling the user why not.
    bool ExportCsvTo(const QString& fileName);
    bool ExportJsonTo(const QString& fileName);

    // Every window opened from now on sends through sender instead of an
    // echo engine of its own (nullptr: their own again). Returns the one
    // before.
    static std::shared_ptr<paths::EchoSender>
    SetEchoSenderForTests(std::shared_ptr<paths::EchoSender> sender);

    QLabel* lb_status;
    QTableView* tv_hops;
    QListWidget* lb_changes;
    QPushButton* bn_pause;
    QPushButton* bn_reset;
    QPushButton* bn_copy;
    QPushButton* bn_csv;
    QPushButton* bn_json;

signals:
    // The watch has started (the entry has an address), or the name did
    // not resolve (Watch() stays nullptr).
    void Started();
    void Failed(const QString& reason);
    // The table shows a new round.
    void Updated();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Resolved(const std::optional<paths::PathWatch::Target>& target, const QString& reason);
    void StartWatch(const paths::PathWatch::Target& target);
    void Refresh();
    void ShowStatus();
    void AddChange(const paths::RouteChange& change);
    void UpdateButtons();
    void bn_pauseClick();
    void bn_resetClick();
    void bn_copyClick();
    void bn_csvClick();
    void bn_jsonClick();
    bool Export(const QString& fileName, const QByteArray& content);
    void PickAndExport(const QString& title, const QString& filter, const QString& extension,
                       bool json);

    QString FEntry;
    QString FFailure;
    std::unique_ptr<paths::PathWatch> FWatch;
    PathTableModel* FModel;
    // Cleared as the window goes, for a lookup still on its worker.
    std::shared_ptr<bool> FAlive;
};

} // namespace pathview

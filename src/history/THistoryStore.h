#pragma once

#include "history/RunRecord.h"
#include "paths/MinuteSummary.h"
#include "paths/RouteTracker.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <utility>

namespace history {

class TSqlThread;

// The file of recorded runs: one SQLite database in write-ahead-log mode,
// written on a worker thread of its own. Runs handed to Record are
// collected and committed together, a short while after the first of them
// or at Sync, in one transaction, so a whole round of checks costs one
// commit. Several processes may write the same file: each waits its turn
// for the write lock, and while another holds it for long the runs stay
// queued and are tried again a while later.
//
// Opening happens on the worker too: the schema is created or brought up
// to date, and runs older than the retention period are removed. A file
// that cannot be opened, written or read turns the history off for the
// life of this object and reports it once through Failed; a damaged file is
// moved aside first, so a fresh one is made at the next start.
//
// Destroying it returns at once: the worker makes one short last attempt
// at what is queued and ends on its own; runs that another process keeps
// it from writing then are dropped with a warning.
class THistoryStore : public QObject {
    Q_OBJECT
public:
    // The schema this code writes; older files are migrated.
    static constexpr int SchemaVersion = 3;
    // Runs, and the minutes and route changes of paths, older than this are
    // removed when the file is opened.
    static constexpr int RetentionDays = 400;

    explicit THistoryStore(const QString& path, QObject* owner = nullptr);
    ~THistoryStore() override;

    const QString& Path() const { return FPath; }
    // False once the file has failed; records are then dropped.
    bool Enabled() const { return *FEnabled; }
    // Queues one run; returns at once.
    void Record(const RunRecord& run);
    // Queues a change of a host's state, written with the runs; returns at
    // once.
    void RecordState(const StateRecord& change);
    // Queues the records of one minute of a watched path (what
    // paths::PathWatch::MinuteClosed hands over), written with the runs;
    // returns at once. entry is the host as the user typed it, target the
    // address watched. A minute that comes in parts (the engine closes one
    // early when it is reset) is stored as the sum of its parts.
    void RecordPathMinutes(const QString& entry, const QString& target,
                           const QList<paths::MinuteSummary>& minute);
    // Queues a change of a watched path's route; returns at once.
    void RecordRouteChange(const QString& entry, const QString& target,
                           const paths::RouteChange& change);
    // Makes one attempt at committing what is queued and waits for it.
    // For tools and tests: the window thread never waits for the file.
    void Sync();
    // Makes one attempt at committing what is queued, then calls done on
    // this object's thread unless context has gone; returns at once.
    // Requests made while one is on its way share its attempt.
    void Flush(QObject* context, std::function<void()> done);
    // Runs committed by this object so far.
    qint64 Committed() const { return *FCommitted; }

    // The default file: history.sqlite in the user's data folder.
    static QString DefaultPath();

signals:
    // The file failed; the text names it and says why. Emitted once, on
    // the thread that owns this object.
    void Failed(const QString& message);
    // Rows have been committed (on the thread that owns this object).
    void Written();

private:
    struct Worker;
    void Flushed();
    QString FPath;
    std::shared_ptr<std::atomic<bool>> FEnabled;
    std::shared_ptr<std::atomic<qint64>> FCommitted;
    std::shared_ptr<Worker> FWorker;
    std::unique_ptr<TSqlThread> FThread;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> FFlushWaiting;
    bool FFlushing = false;
};

} // namespace history

#pragma once

#include "history/RunRecord.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

namespace history {

class TSqlThread;

// The file of recorded runs: one SQLite database in write-ahead-log mode,
// written on a worker thread of its own. Runs handed to Record are
// collected and committed together, a short while after the first of them
// or at Sync, in one transaction, so a whole round of checks costs one
// commit. Several processes may write the same file: each waits its turn
// for the write lock.
//
// Opening happens on the worker too: the schema is created or brought up
// to date, and runs older than the retention period are removed. A file
// that cannot be opened, written or read turns the history off for the
// life of this object and reports it once through Failed; a damaged file is
// moved aside first, so a fresh one is made at the next start.
class THistoryStore : public QObject {
    Q_OBJECT
public:
    // The schema this code writes; older files are migrated.
    static constexpr int SchemaVersion = 1;
    // Runs older than this are removed when the file is opened.
    static constexpr int RetentionDays = 400;

    explicit THistoryStore(const QString& path, QObject* owner = nullptr);
    ~THistoryStore() override;

    const QString& Path() const { return FPath; }
    // False once the file has failed; records are then dropped.
    bool Enabled() const { return *FEnabled; }
    // Queues one run; returns at once.
    void Record(const RunRecord& run);
    // Commits what is queued and waits until it is written (or dropped).
    void Sync();
    // Commits what is queued, then calls done on context's thread; returns
    // at once.
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
    QString FPath;
    std::shared_ptr<std::atomic<bool>> FEnabled;
    std::shared_ptr<std::atomic<qint64>> FCommitted;
    std::shared_ptr<Worker> FWorker;
    std::unique_ptr<TSqlThread> FThread;
};

} // namespace history

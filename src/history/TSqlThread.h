#pragma once

#include <QString>
#include <functional>

class QObject;
class QThread;

namespace history {

// A worker thread that owns one SQLite connection. Work posted to it runs
// there, one piece after another in the order posted; the connection is
// only ever touched on that thread. Destroying it runs what was posted
// before, closes the connection and joins the thread.
class TSqlThread {
public:
    explicit TSqlThread(const QString& threadName);
    ~TSqlThread();
    TSqlThread(const TSqlThread&) = delete;
    TSqlThread& operator=(const TSqlThread&) = delete;

    // The connection's name, for QSqlDatabase::database() on the worker.
    const QString& Connection() const { return FConnection; }
    // Runs fn on the worker, after everything posted before it.
    void Post(std::function<void()> fn);
    // Blocks the caller until everything posted so far has run.
    void Drain();
    // The object that lives on the worker (a context for timers there).
    QObject* Context() const { return FContext; }

private:
    QString FConnection;
    QThread* FThread;
    QObject* FContext;
};

} // namespace history

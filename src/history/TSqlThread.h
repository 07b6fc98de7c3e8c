#pragma once

#include <QString>
#include <functional>

class QObject;
class QThread;

namespace history {

// A worker thread that owns one SQLite connection. Work posted to it runs
// there, one piece after another in the order posted; the connection is
// only ever touched on that thread.
//
// Destroying it never waits for the worker: the worker runs what was
// posted before, closes the connection and ends on its own, and the thread
// object goes once it has ended. The program gives workers still busy at
// its end a short while in all (EndWaitMs, see EndProcess); any other
// program waits for them when its application object goes.
class TSqlThread {
public:
    // The longest the end of the program waits for ending workers.
    static constexpr int EndWaitMs = 200;

    explicit TSqlThread(const QString& threadName);
    ~TSqlThread();
    TSqlThread(const TSqlThread&) = delete;
    TSqlThread& operator=(const TSqlThread&) = delete;

    // The connection's name, for QSqlDatabase::database() on the worker.
    const QString& Connection() const { return FConnection; }
    // Runs fn on the worker, after everything posted before it.
    void Post(std::function<void()> fn);
    // Blocks the caller until everything posted so far has run. For tools
    // and tests: the window thread never waits for the database.
    void Drain();
    // The object that lives on the worker (a context for timers there).
    QObject* Context() const { return FContext; }

    // Waits up to timeoutMs in all for the workers of destroyed instances
    // to end, and frees those that have. True when none is left running.
    static bool WaitForEnded(int timeoutMs);
    // Workers of destroyed instances that have not ended yet.
    static int Ending();
    // For the last line of main(): gives ending workers EndWaitMs and
    // returns status when none is left. A worker still inside SQLite then
    // would meet the process's exit handlers freeing what it uses, so the
    // process ends at once with status instead, without them; SQLite's
    // journal keeps the file whole either way.
    static int EndProcess(int status);

private:
    QString FConnection;
    QThread* FThread;
    QObject* FContext;
};

} // namespace history

#include "history/TSqlThread.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QList>
#include <QMetaObject>
#include <QMutex>
#include <QPointer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>

#include <cstdio>
#include <cstdlib>

namespace history {

namespace {

QAtomicInteger<int> connectionCount;

// The threads of destroyed instances that may still run. Only ever
// touched on the threads that destroy instances and end the application;
// the list itself is never freed, so a thread left running at the end of
// the process stays reachable.
struct EndingThreads {
    QMutex lock;
    QList<QPointer<QThread>> threads;
    bool routineAdded = false;
};

EndingThreads& Registry() {
    static auto* ending = new EndingThreads;
    return *ending;
}

// A program that did not end through EndProcess (a tool, a test) waits
// longer: its exit handlers must not run beside a worker still inside
// SQLite, and a worker never waits long for a lock once it is closing.
constexpr int ToolEndWaitMs = 10000;

void WaitAtApplicationEnd() {
    TSqlThread::WaitForEnded(ToolEndWaitMs);
}

} // namespace

TSqlThread::TSqlThread(const QString& threadName)
    : FConnection(QStringLiteral("netsonde-history-%1").arg(connectionCount.fetchAndAddRelaxed(1))),
      FThread(new QThread), FContext(new QObject) {
    FThread->setObjectName(threadName);
    FContext->moveToThread(FThread);
    // The context goes on the worker as it ends; the thread object once
    // its owner's thread gets to it (or at the end of the application).
    QObject::connect(FThread, &QThread::finished, FContext, &QObject::deleteLater);
    QObject::connect(FThread, &QThread::finished, FThread, &QObject::deleteLater);
    {
        EndingThreads& ending = Registry();
        QMutexLocker locker(&ending.lock);
        if (!ending.routineAdded && QCoreApplication::instance()) {
            qAddPostRoutine(WaitAtApplicationEnd);
            ending.routineAdded = true;
        }
    }
    FThread->start();
}

TSqlThread::~TSqlThread() {
    const QString name = FConnection;
    QThread* thread = FThread;
    // The last piece of work: nothing can be posted after it.
    Post([name, thread] {
        // The connection object must be gone before it is removed. Closing
        // checkpoints the log when it can; it never waits for another
        // process's lock to do so.
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isOpen())
                QSqlQuery(db).exec(QStringLiteral("PRAGMA busy_timeout=0"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        thread->quit();
    });
    EndingThreads& ending = Registry();
    QMutexLocker locker(&ending.lock);
    ending.threads.removeIf([](const QPointer<QThread>& t) { return t.isNull(); });
    ending.threads.append(FThread);
}

void TSqlThread::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(FContext, std::move(fn), Qt::QueuedConnection);
}

void TSqlThread::Drain() {
    if (QThread::currentThread() == FThread)
        return;
    QMetaObject::invokeMethod(
        FContext, [] {}, Qt::BlockingQueuedConnection);
}

bool TSqlThread::WaitForEnded(int timeoutMs) {
    EndingThreads& ending = Registry();
    QMutexLocker locker(&ending.lock);
    const QDeadlineTimer deadline(timeoutMs);
    bool all = true;
    for (QPointer<QThread>& thread : ending.threads) {
        if (thread.isNull())
            continue;
        // A thread that has ended is freed here, in case no event loop
        // gets to its deferred deletion any more.
        if (thread->wait(deadline))
            delete thread.data();
        else
            all = false;
    }
    ending.threads.removeIf([](const QPointer<QThread>& t) { return t.isNull(); });
    return all;
}

int TSqlThread::EndProcess(int status) {
    if (WaitForEnded(EndWaitMs))
        return status;
    std::fflush(nullptr);
    std::_Exit(status);
}

int TSqlThread::Ending() {
    EndingThreads& ending = Registry();
    QMutexLocker locker(&ending.lock);
    int running = 0;
    for (const QPointer<QThread>& thread : ending.threads)
        if (!thread.isNull() && !thread->isFinished())
            ++running;
    return running;
}

} // namespace history

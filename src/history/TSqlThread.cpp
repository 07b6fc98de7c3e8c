#include "history/TSqlThread.h"

#include <QAtomicInteger>
#include <QMetaObject>
#include <QSqlDatabase>
#include <QThread>

namespace history {

namespace {
QAtomicInteger<int> connectionCount;
}

TSqlThread::TSqlThread(const QString& threadName)
    : FConnection(QStringLiteral("netsonde-history-%1").arg(connectionCount.fetchAndAddRelaxed(1))),
      FThread(new QThread), FContext(new QObject) {
    FThread->setObjectName(threadName);
    FContext->moveToThread(FThread);
    FThread->start();
}

TSqlThread::~TSqlThread() {
    const QString name = FConnection;
    Post([name] {
        // The connection object must be gone before it is removed.
        { QSqlDatabase::database(name, false).close(); }
        QSqlDatabase::removeDatabase(name);
    });
    // Quitting drops events still queued: everything posted runs first.
    Drain();
    FThread->quit();
    FThread->wait();
    // The thread has ended: its objects may go from here.
    delete FContext;
    delete FThread;
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

} // namespace history

#include "platform/WindowThread.h"

#include <QCoreApplication>
#include <QThread>
#include <mutex>

namespace platform {

namespace {

std::mutex postMutex;
QCoreApplication* postTarget = nullptr;

void forgetApplication() {
    std::lock_guard lock(postMutex);
    postTarget = nullptr;
}

QCoreApplication* target() {
    // The caller holds postMutex. The first use on the window thread records
    // the application; its destruction clears it again.
    if (postTarget == nullptr && QCoreApplication::instance() != nullptr &&
        QThread::currentThread() == QCoreApplication::instance()->thread()) {
        postTarget = QCoreApplication::instance();
        qAddPostRoutine(&forgetApplication);
    }
    return postTarget;
}

} // namespace

bool PostToWindowThread(std::function<void()> fn) {
    std::lock_guard lock(postMutex);
    QCoreApplication* app = target();
    if (app == nullptr)
        return false;
    return QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void AttachWindowThread() {
    std::lock_guard lock(postMutex);
    target();
}

bool IsWindowThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

} // namespace platform

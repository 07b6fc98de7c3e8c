#include "dialogs/FileLoadProgress.h"

#include "files/TextFile.h"

#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QProgressDialog>
#include <QTimer>

#include "controls/TBusyCursor.h"

#include <atomic>
#include <new>
#include <optional>
#include <thread>

namespace {

int progressDelay = 500;

} // namespace

int FileLoadProgressDelay() {
    return progressDelay;
}

void SetFileLoadProgressDelay(int milliseconds) {
    progressDelay = milliseconds;
}

files::LoadStatus RunFileLoad(QWidget* owner, const QString& path, QString& error,
                              const std::function<files::LoadStatus(files::LoadControl&)>& load) {
    files::LoadControl control;
    files::LoadStatus status = files::LoadStatus::Failed;
    std::atomic<bool> finished{false};
    QEventLoop loop;
    std::optional<TBusyCursor> busy(std::in_place);

    std::thread worker([&] {
        try {
            status = load(control);
        } catch (const std::bad_alloc&) {
            error = files::FileReadError(path, files::OutOfMemoryReason());
            status = files::LoadStatus::Failed;
        }
        finished = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });

    // A short load ends here, before anything more than the busy cursor shows.
    QTimer delay;
    delay.setSingleShot(true);
    QObject::connect(&delay, &QTimer::timeout, &loop, &QEventLoop::quit);
    delay.start(progressDelay);
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    delay.stop();

    if (!finished) {
        busy.reset();
        QProgressDialog progress(owner);
        progress.setObjectName(QStringLiteral("dl_progress"));
        // The file's name as written: a name is never read as markup.
        auto* label = new QLabel(&progress);
        label->setTextFormat(Qt::PlainText);
        progress.setLabel(label);
        progress.setLabelText(QStringLiteral("Loading \"%1\"").arg(QDir::toNativeSeparators(path)));
        progress.setCancelButtonText(QStringLiteral("Cancel"));
        progress.setRange(0, 1000);
        progress.setWindowTitle(QStringLiteral("Load from File"));
        progress.setWindowModality(Qt::ApplicationModal);
        progress.setAutoClose(false);
        progress.setAutoReset(false);
        progress.setMinimumDuration(0);
        QObject::connect(&progress, &QProgressDialog::canceled, &loop,
                         [&control] { control.cancel = true; });
        // The worker's quit may have come in between the two waits; the tick
        // ends the wait all the same.
        QTimer tick;
        tick.setInterval(50);
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (finished)
                loop.quit();
            else if (!progress.wasCanceled())
                progress.setValue(control.permille.load());
        });
        tick.start();
        progress.setValue(control.permille.load());
        progress.show();
        if (!finished)
            loop.exec();
        // Left early: the program is ending.
        if (!finished)
            control.cancel = true;
    }
    worker.join();
    return status;
}

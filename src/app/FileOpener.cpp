#include "app/FileOpener.h"

#include "app/Tfm_ns.h"
#include "controls/TCBitBtn.h"
#include "desktop/MessageBoxes.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "files/TextFile.h"

#include <QApplication>
#include <QFileInfo>

namespace {

constexpr int RetryMs = 250;

} // namespace

FileOpener::Kind FileOpener::KindOf(const QString& path) {
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.compare(QLatin1String("nsd"), Qt::CaseInsensitive) == 0)
        return Kind::Session;
    if (suffix.compare(QLatin1String("net"), Qt::CaseInsensitive) == 0)
        return Kind::AddressList;
    return Kind::Unknown;
}

FileOpener::FileOpener(Tfm_ns* window) : QObject(window), FWindow(window) {
    FRetry.setInterval(RetryMs);
    connect(&FRetry, &QTimer::timeout, this, &FileOpener::OpenPending);
}

void FileOpener::Open(const QString& file) {
    if (!FWindow)
        return;
    FWindow->AppRestore();
    if (file.isEmpty())
        return;
    FPending = file;
    OpenPending();
}

bool FileOpener::WindowFree() const {
    // Cancel shows for as long as a command runs, also between the hosts of
    // a Check All.
    return !FOpening && !FWindow->Ping->Busy() && !FWindow->Trace->Busy() &&
           !FWindow->bn_cancel->isVisibleTo(FWindow) && !QApplication::activeModalWidget();
}

void FileOpener::OpenPending() {
    if (!FWindow || FPending.isEmpty()) {
        FRetry.stop();
        return;
    }
    if (!WindowFree()) {
        FRetry.start();
        return;
    }
    FRetry.stop();
    const QString path = std::exchange(FPending, QString());
    FOpening = true;
    switch (KindOf(path)) {
    case Kind::Session:
        FWindow->LoadSessionFrom(path);
        break;
    case Kind::AddressList:
        FWindow->LoadAddressList(path);
        break;
    case Kind::Unknown:
        platform::Messages().Error(files::FileReadError(
            path, QStringLiteral("It is neither a session file (.nsd) nor an address list "
                                 "file (.net).")));
        break;
    }
    FOpening = false;
    // A file that came while this one loaded.
    if (!FPending.isEmpty())
        FRetry.start();
}

// The program: checks its command line, hands its file to a running copy
// if there is one, binds the ICMP echo service, creates the main window as
// the only window, opens the file and runs until the window is closed.
#include "app/FileOpener.h"
#include "app/SingleInstance.h"
#include "app/StartUp.h"
#include "app/TAlertWatch.h"
#include "app/Tfm_ns.h"
#include "desktop/MessageBoxes.h"
#include "echo/IcmpBinding.h"
#include "history/THistoryStore.h"
#include "history/TSqlThread.h"
#include "historyview/THistory.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QTimer>
#include <memory>

int main(int argc, char** argv) {
    QString file;
    if (const int status = startup::Check(argc, argv, file))
        return status;
    // Qt sees no arguments: the only one is the file.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    platform::UseToolkitMessageBoxes();
    SingleInstance instance;
    if (instance.HandOver(file))
        return 0;
    // The binding comes first: Abort in its error box ends the program
    // before any window exists.
    IcmpBindingScope binding;
    // No display name: Qt would append it to the title of every other
    // window ("Load from File — Netsonde").
    QApplication::setApplicationName(QStringLiteral("Netsonde"));
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/app/icons/netsonde-%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    int rc = 0;
    {
        std::unique_ptr<Tfm_ns> window(new Tfm_ns);
        fm_ns = window.get();
        // Every run is remembered in the user's data folder.
        window->SetHistory(new history::THistory(history::THistoryStore::DefaultPath()));
        // Host states, their notices and sounds, with the user's settings.
        window->SetAlerts(new TAlertWatch(alerts::AlertSettings::DefaultPath()));
        window->show();
        QPointer<FileOpener> opener = new FileOpener(window.get());
        instance.Serve([opener](const QString& path) {
            if (opener)
                opener->Open(path);
        });
        if (!file.isEmpty())
            QTimer::singleShot(0, opener, [opener, file] { opener->Open(file); });
        rc = QApplication::exec();
    }
    // A history file held by another program may still keep its writer busy.
    return history::TSqlThread::EndProcess(rc);
}

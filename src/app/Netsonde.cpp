// The program: binds the ICMP echo service, creates the main window as the
// only window and runs until it is closed.
#include "app/TAlertWatch.h"
#include "app/Tfm_ns.h"
#include "desktop/MessageBoxes.h"
#include "echo/IcmpBinding.h"
#include "history/THistoryStore.h"
#include "history/TSqlThread.h"
#include "historyview/THistory.h"

#include <QApplication>
#include <QIcon>
#include <memory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    platform::UseToolkitMessageBoxes();
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
        rc = QApplication::exec();
    }
    // A history file held by another program may still keep its writer busy.
    return history::TSqlThread::EndProcess(rc);
}

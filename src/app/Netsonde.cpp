// The program: checks its command line, hands its file to a running copy
// if there is one, binds the ICMP echo service, creates the main window as
// the only window, opens the file and runs until the window is closed.
// Started by its login entry, it goes into the notification area with the
// last session and its automatic mode instead.
#include "app/AutostartEntry.h"
#include "app/FileOpener.h"
#include "app/LastSession.h"
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
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <functional>
#include <memory>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    // Nothing to do about a full pipe: one byte in it is enough.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// The end of a session (logout, shutdown) or a plain kill ends the program
// as its Close does, so that what must be kept is written first.
void QuitOnTermination(QObject* parent, std::function<void()> first) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [first] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        first();
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(s, &action, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    QString file;
    if (const int status = startup::Check(argc, argv, file))
        return status;
    // A start from the login's entry; the mark is not handed on.
    const bool atLogin = qEnvironmentVariableIsSet(AutostartEntry::StartFlag);
    qunsetenv(AutostartEntry::StartFlag);
    // Qt sees no arguments: the only one is the file.
    int qtArgc = 1;
    auto guard = std::make_unique<startup::PlatformGuard>();
    QApplication app(qtArgc, argv);
    guard.reset();
    // No display name: Qt would append it to the title of every other
    // window ("Load from File — Netsonde").
    QApplication::setApplicationName(QStringLiteral("Netsonde"));
    platform::UseToolkitMessageBoxes();
    SingleInstance instance;
    // A start at login that finds the program running leaves it as it is.
    if (atLogin ? instance.StandAside() : instance.HandOver(file))
        return 0;
    // The binding comes first: Abort in its error box ends the program
    // before any window exists.
    IcmpBindingScope binding;
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
        window->SetDesktopSettings(
            QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
            QStringLiteral("/desktop.conf"));
        window->SetLastSessionFolder(LastSession::DefaultFolder());
        if (atLogin) {
            window->StartInTray();
            // Inside the event loop: a first Check All waits for its hosts.
            QPointer<Tfm_ns> w = window.get();
            QTimer::singleShot(0, w, [w] { LastSession(w->LastSessionPlace()).Restore(*w); });
        } else {
            window->show();
        }
        // The list and its automatic mode as the program is left, for the
        // next start at login. Kept before a quit that comes from outside:
        // quitting ends a run in progress, and the automatic mode with it.
        auto kept = std::make_shared<bool>(false);
        auto keep = [w = window.get(), kept] {
            if (!*kept)
                w->SaveLastSession();
            *kept = true;
        };
        QObject::connect(&app, &QCoreApplication::aboutToQuit, window.get(), keep);
        QObject::connect(&app, &QGuiApplication::commitDataRequest, window.get(),
                         [w = window.get()] { w->SaveLastSession(); });
        QuitOnTermination(window.get(), keep);
        QPointer<FileOpener> opener = new FileOpener(window.get());
        instance.Serve([opener](const QString& path) {
            if (opener)
                opener->Open(path);
        });
        if (!file.isEmpty())
            QTimer::singleShot(0, opener, [opener, file] { opener->Open(file); });
        rc = QApplication::exec();
        // From here on the program only ends: a new start runs by itself.
        instance.Close();
    }
    // A history file held by another program may still keep its writer busy.
    return history::TSqlThread::EndProcess(rc);
}

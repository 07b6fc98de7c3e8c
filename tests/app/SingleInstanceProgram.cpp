// One running program per session, between real processes on a private
// session bus (run under dbus-run-session): a later start hands its request
// to the running program; once that program has closed its service (it is
// ending), a later start runs by itself instead of handing its request to a
// program that will never act on it. Exits 0 when both hold.
//   single_instance_program            the running program
//   single_instance_program --later    a later start: 0 handed over, 1 runs
//   single_instance_program --login    a start at login: 0 stands aside, 1 runs
#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// Runs a later start and returns its exit code, -1 when it could not run.
// The running program goes on handling its events meanwhile, as it does
// while a later start calls it.
int LaterStart(char* self, const char* how = "--later") {
    char* argv[] = {self, const_cast<char*>(how), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, self, nullptr, nullptr, argv, environ) != 0)
        return -1;
    QTimer wake; // looks at the later start again between events
    wake.start(10);
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (ended != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    SingleInstance instance;
    if (argc > 1 && std::strcmp(argv[1], "--later") == 0)
        return instance.HandOver(QString()) ? 0 : 1;
    if (argc > 1 && std::strcmp(argv[1], "--login") == 0)
        return instance.StandAside() ? 0 : 1;

    if (instance.HandOver(QString())) {
        std::printf("FAILED: another program holds the service\n");
        return 1;
    }
    int requests = 0;
    instance.Serve([&requests](const QString&) { ++requests; });
    const int handed = LaterStart(argv[0]);
    QCoreApplication::processEvents();
    std::printf("a start while the program runs: %s, %d request(s)\n",
                handed == 0 ? "handed over" : "ran by itself", requests);
    // A start at login finds the program running and leaves it alone: no
    // request, so its window does not come to the front.
    const int quiet = LaterStart(argv[0], "--login");
    QCoreApplication::processEvents();
    std::printf("a start at login while the program runs: %s, %d request(s)\n",
                quiet == 0 ? "stood aside" : "ran by itself", requests);

    instance.Close();
    const int ran = LaterStart(argv[0]);
    QCoreApplication::processEvents();
    std::printf("a start while the program ends: %s, %d request(s)\n",
                ran == 0 ? "handed over" : "ran by itself", requests);
    const int loginLater = LaterStart(argv[0], "--login");
    std::printf("a start at login while the program ends: %s\n",
                loginLater == 0 ? "stood aside" : "ran by itself");
    return handed == 0 && quiet == 0 && requests == 1 && ran == 1 && loginLater == 1 ? 0 : 1;
}

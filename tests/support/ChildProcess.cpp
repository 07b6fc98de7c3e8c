#include "support/ChildProcess.h"

#include "support/EventWait.h"

#include <QDeadlineTimer>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace netsonde::test {

ChildProcess::ChildProcess(const QString& program, const QStringList& arguments) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<QByteArray> storage;
    storage.push_back(program.toLocal8Bit());
    for (const QString& a : arguments)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        FPid = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    FIn = in[1];
    FOut = out[0];
    fcntl(FOut, F_SETFL, fcntl(FOut, F_GETFL) | O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
    Stop();
    if (FOut >= 0)
        close(FOut);
}

const QByteArray& ChildProcess::Output() {
    char buffer[4096];
    while (FOut >= 0) {
        const ssize_t n = read(FOut, buffer, sizeof buffer);
        if (n > 0)
            FOutput.append(buffer, n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    return FOutput;
}

QStringList ChildProcess::Lines() {
    return QString::fromUtf8(Output()).split('\n', Qt::SkipEmptyParts);
}

bool ChildProcess::WaitForLine(const QString& text, int boundMs) {
    return Started() && WaitUntil([&] { return Lines().contains(text); }, boundMs);
}

int ChildProcess::Stop(int boundMs) {
    if (FIn >= 0) {
        close(FIn);
        FIn = -1;
    }
    if (FPid <= 0)
        return FExit;
    int status = 0;
    const QDeadlineTimer deadline(Scaled(boundMs));
    while (waitpid(FPid, &status, WNOHANG) == 0) {
        if (deadline.hasExpired()) {
            kill(FPid, SIGKILL);
            waitpid(FPid, &status, 0);
            FPid = -1;
            return FExit = -1;
        }
        QThread::msleep(5);
    }
    FPid = -1;
    return FExit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace netsonde::test

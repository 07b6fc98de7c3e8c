#pragma once

#include <QString>
#include <QStringList>
#include <sys/types.h>

namespace netsonde::test {

// A helper program started by a test, with pipes to its standard input and
// output. It is started with posix_spawn rather than QProcess: QProcess
// runs its own code in a child that shares the parent's memory until the
// exec, which ThreadSanitizer's runtime cannot follow.
class ChildProcess {
public:
    ChildProcess(const QString& program, const QStringList& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return FPid > 0; }
    // All the child has written to its standard output so far; does not
    // wait for more.
    const QByteArray& Output();
    // The lines written so far.
    QStringList Lines();
    // Waits (running the event loop) until a line equal to text has come.
    bool WaitForLine(const QString& text, int boundMs = 10000);
    // Closes the child's standard input, which tells the helpers to end,
    // and waits for the child; kills it when it does not end in time.
    // Returns its exit code, or -1 when it had to be killed.
    int Stop(int boundMs = 5000);

private:
    pid_t FPid = -1;
    int FIn = -1;
    int FOut = -1;
    QByteArray FOutput;
    int FExit = -1;
};

} // namespace netsonde::test

// A program whose asynchronous lookup hangs (a name server that does not
// answer) when it ends: it must end at once, whatever the lookup does. The
// program forks; the child starts the lookup, says so through a pipe once a
// worker runs it and returns from main; the parent times the child's end.
// Exits 0 when the child ended cleanly within a second, else 1.
#include "platform/NameService.h"
#include "platform/WinSock.h"

#include <QCoreApplication>
#include <QObject>
#include <chrono>
#include <cstdio>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Answers no question, ever.
class SilentNameService final : public platform::NameService {
public:
    int ByName(const std::string&, platform::HostRecord&) override { Hang(); }
    int ByAddr(std::uint32_t, platform::HostRecord&) override { Hang(); }

private:
    [[noreturn]] static void Hang() {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
};

int Child(int ready, int argc, char** argv) {
    QCoreApplication app(argc, argv);
    platform::TWSAData data{};
    if (platform::WSAStartup(0x0101, &data) != 0)
        return 2;
    platform::SetNameServiceForTests(std::make_shared<SilentNameService>());
    QObject window;
    static char buffer[platform::MAXGETHOSTSTRUCT];
    if (platform::WSAAsyncGetHostByName(&window, 0x8000, "silent.test", buffer, sizeof buffer) == 0)
        return 3;
    // Waits for the worker to take the lookup, not for its answer.
    while (platform::AsyncLookupWorkers() == 0)
        std::this_thread::yield();
    const char byte = 1;
    if (::write(ready, &byte, 1) != 1)
        return 4;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child < 0)
        return 1;
    if (child == 0) {
        ::close(pipeFds[0]);
        // Ends as a program does, through the exit handlers.
        std::exit(Child(pipeFds[1], argc, argv));
    }
    ::close(pipeFds[1]);
    char byte = 0;
    const bool started = ::read(pipeFds[0], &byte, 1) == 1;
    const auto from = std::chrono::steady_clock::now();
    int status = 0;
    ::waitpid(child, &status, 0);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - from)
                        .count();
    std::printf("lookup started: %s, exit status %d, ended %lld ms after main returned\n",
                started ? "yes" : "no", WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                static_cast<long long>(ms));
    return started && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ms < 1000 ? 0 : 1;
}

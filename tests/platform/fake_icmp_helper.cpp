// A misbehaving stand-in for the echo broker. It reads what to do from the
// name of its own file (tests copy it under these names): silent-exit,
// hang, bad-magic, refuses (greets with EUSERS) and mute (greets, then
// reads requests and never answers).
#include "icmp-helper-protocol.h"

#include <cerrno>
#include <filesystem>
#include <string>

#include <sys/socket.h>
#include <unistd.h>

int main() {
    const std::string mode = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    icmp_broker_hello hello{};
    hello.magic = ICMP_BROKER_MAGIC;
    if (mode == "silent-exit")
        return 0;
    if (mode == "hang") {
        for (;;)
            ::pause();
    }
    if (mode == "bad-magic")
        hello.magic = 0x12345678;
    if (mode == "refuses")
        hello.error = EUSERS;
    if (::send(3, &hello, sizeof hello, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof hello))
        return 3;
    char scrap[256];
    while (::recv(3, scrap, sizeof scrap, 0) > 0) {
    }
    return 0;
}

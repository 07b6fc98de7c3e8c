// A program that takes the ICMP binding, sends one echo to the loopback
// address and returns from main without giving the binding back, as a
// program that links the engine may. The library it leaves loaded must not
// reach, in the exit handlers, what other units have already torn down.
#include "echo/IcmpBinding.h"

#include <cstdio>

#include <arpa/inet.h>

int main() {
    IcmpStartupBinding();
    if (!IcmpAvailable())
        return 2;
    const IcmpHandle handle = IcmpCreateFile();
    if (handle == InvalidIcmpHandle)
        return 3;
    TIpOptions options{};
    options.Ttl = 64;
    TEchoReply reply{};
    const int error = EchoRequest(handle, options, reply, htonl(INADDR_LOOPBACK), 32, 2000);
    // The handle goes back to the library, which keeps it for the next one.
    IcmpCloseHandle(handle);
    std::printf("echo: %d\n", error);
    return error == 0 ? 0 : 4;
}

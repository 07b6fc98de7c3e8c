#pragma once

#include "platform/WinSock.h"

#include <memory>

namespace netsonde::test {

// Counts the socket library's start-ups and clean-ups and can make them
// fail. Installed for its lifetime.
class FakeSocketLibrary {
public:
    FakeSocketLibrary();
    ~FakeSocketLibrary();

    int startups = 0;
    int cleanups = 0;
    int failStartupWith = 0; // non-zero: WSAStartup returns this code
    int failCleanupWith = 0; // non-zero: WSACleanup fails with this code

private:
    std::unique_ptr<platform::SocketLibrary> previous;
};

} // namespace netsonde::test

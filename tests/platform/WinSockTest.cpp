#include "platform/WinSock.h"
#include "resolve/WSExtra.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(SocketLibrary, StartupsAndCleanupsPairUp) {
    TWSAData data;
    ASSERT_FALSE(WSAIsStarted());
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR) << "clean-up without start-up";
    EXPECT_EQ(WSAGetLastError(), wsa::WSANOTINITIALISED);

    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    ASSERT_EQ(WSAStartup(0x0202, nullptr), 0);
    EXPECT_TRUE(WSAIsStarted());
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_TRUE(WSAIsStarted()) << "one start-up is still open";
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_FALSE(WSAIsStarted());
}

TEST(SocketLibrary, VersionsBelowOneOneAreRefused) {
    EXPECT_EQ(WSAStartup(0x0001, nullptr), wsa::WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSAStartup(0x0000, nullptr), wsa::WSAVERNOTSUPPORTED);
    EXPECT_FALSE(WSAIsStarted());
}

TEST(SocketErrorText, KnownCodesHaveTheirTextsAndGapsAreEmpty) {
    EXPECT_EQ(SocketErrorText(11001), "Authoritative Host not found");
    EXPECT_EQ(SocketErrorText(10093), "WSA Startup not initialized");
    EXPECT_EQ(SocketErrorText(10035), "Socket marked as non-blocking and SO_LINGER set not 0");
    EXPECT_EQ(SocketErrorText(11004), "Valid name, no data record for type");
    for (int code : {10037, 0, -1, 10000, 11005, 10094})
        EXPECT_TRUE(SocketErrorText(code).isEmpty()) << code;
}

TEST(Ipv6Texts, LiteralsWithZonesAndTheirCanonicalText) {
    const struct {
        const char* in;
        const char* canonical;
    } cases[] = {
        {"::1", "::1"},
        {"FD00:0012:0000:0000:0000:0000:0000:0001", "fd00:12::1"},
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},    // the first of equal runs
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"}, // one zero group stays
        {"::", "::"},
        {"::ffff:10.1.2.3", "::ffff:10.1.2.3"},
        {"fe80::1%lo", "fe80::1%lo"},
        {"fe80::1%1", "fe80::1%lo"},
    };
    for (const auto& c : cases) {
        TIpv6Address a;
        ASSERT_TRUE(inet_addr6(c.in, a)) << c.in;
        EXPECT_EQ(inet_ntoa6(a), c.canonical) << c.in;
    }
    TIpv6Address a;
    for (const char* bad : {"", "1.2.3.4", "fd00::1::2", "fe80::1%", "fe80::1%nosuchif0",
                            "fd00:12:", "host.example", "::1 "})
        EXPECT_FALSE(inet_addr6(bad, a)) << bad;
}

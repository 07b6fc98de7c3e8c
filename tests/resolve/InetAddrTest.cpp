#include "platform/WinSock.h"

#include <arpa/inet.h>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

std::uint32_t Net(std::uint32_t hostOrder) {
    return htonl(hostOrder);
}

TEST(InetAddr, FourDecimalPartsAreDecimalEvenWithLeadingZeros) {
    EXPECT_EQ(platform::inet_addr("192.168.1.10"), Net(0xC0A8010A));
    EXPECT_EQ(platform::inet_addr("192.168.1.010"), Net(0xC0A8010A));
    EXPECT_EQ(platform::inet_addr("10.1.2.010"), Net(0x0A01020A));
    EXPECT_EQ(platform::inet_addr("10.1.2.008"), Net(0x0A010208));
    EXPECT_EQ(platform::inet_addr("010.001.000.099"), Net(0x0A010063));
    EXPECT_EQ(platform::inet_addr("0.0.0.0"), 0u);
    EXPECT_EQ(platform::inet_addr("255.255.255.254"), Net(0xFFFFFFFE));
    // Every text of a generated range is the address its number names.
    for (unsigned n = 0; n <= 255; ++n) {
        char text[32];
        std::snprintf(text, sizeof text, "192.168.1.%.3u", n);
        EXPECT_EQ(platform::inet_addr(text), Net(0xC0A80100 | n)) << text;
    }
}

TEST(InetAddr, FourDecimalPartsBeyond255AreNoAddress) {
    // Not the classic octal reading of 0300 (192) or 0377 (255).
    for (const char* text : {"0300.0250.1.1", "192.168.1.0377", "1.2.3.256", "256.0.0.1",
                             "192.168.1.0256", "00000000300.1.1.1"})
        EXPECT_EQ(platform::inet_addr(text), platform::InaddrNone) << text;
    // Many leading zeros are still a byte.
    EXPECT_EQ(platform::inet_addr("0000192.168.001.00010"), Net(0xC0A8010A));
}

TEST(InetAddr, OtherTextsTakeTheClassicRules) {
    // Hexadecimal and octal parts.
    EXPECT_EQ(platform::inet_addr("0x7f.0.0.1"), Net(0x7F000001));
    EXPECT_EQ(platform::inet_addr("0X7F.0.0.0x1"), Net(0x7F000001));
    // Octal and hexadecimal parts in texts of fewer than four parts.
    EXPECT_EQ(platform::inet_addr("0300.0250.257"), Net(0xC0A80101));
    EXPECT_EQ(platform::inet_addr("010.0x1.02.3"), Net(0x08010203));
    // Fewer parts: the last one fills the remaining bytes.
    EXPECT_EQ(platform::inet_addr("127.1"), Net(0x7F000001));
    EXPECT_EQ(platform::inet_addr("10.1.515"), Net(0x0A010203));
    EXPECT_EQ(platform::inet_addr("3232235777"), Net(0xC0A80101));
    EXPECT_EQ(platform::inet_addr("0xC0A80101"), Net(0xC0A80101));
    EXPECT_EQ(platform::inet_addr("017"), Net(15));
    // All bits set is indistinguishable from "no address".
    EXPECT_EQ(platform::inet_addr("255.255.255.255"), platform::InaddrNone);
}

TEST(InetAddr, AnythingElseIsNoAddress) {
    for (const char* text : {"",
                             "host.example",
                             "1.2.3.4.5",
                             "1.2.3.",
                             ".1.2.3",
                             "1..2.3",
                             "256.1.1.1.1",
                             "1.2.3.256x",
                             "1.2.3.4 ",
                             " 1.2.3.4",
                             "08",
                             "1.2.3.09a",
                             "0x",
                             "0x.1.2.3",
                             "1.256.3",
                             "1.2.65536",
                             "4294967296",
                             "0x100000000",
                             "99999999999999999999",
                             "-1.2.3.4",
                             "1.2.3.+4"})
        EXPECT_EQ(platform::inet_addr(text), platform::InaddrNone) << text;
    EXPECT_EQ(platform::inet_addr(nullptr), platform::InaddrNone);
}

TEST(InetNtoa, WritesTheDottedTextOfAnAddress) {
    EXPECT_STREQ(platform::inet_ntoa(Net(0xC0A8010A)), "192.168.1.10");
    EXPECT_STREQ(platform::inet_ntoa(0), "0.0.0.0");
    EXPECT_STREQ(platform::inet_ntoa(platform::InaddrNone), "255.255.255.255");
}

} // namespace

#include "platform/WinSock.h"

#include <arpa/inet.h>
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
}

TEST(InetAddr, OtherTextsTakeTheClassicRules) {
    // Hexadecimal and octal parts.
    EXPECT_EQ(platform::inet_addr("0x7f.0.0.1"), Net(0x7F000001));
    EXPECT_EQ(platform::inet_addr("0X7F.0.0.0x1"), Net(0x7F000001));
    // A part beyond 255 makes the text classic: 0300 is octal 192.
    EXPECT_EQ(platform::inet_addr("0300.0250.1.1"), Net(0xC0A80101));
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

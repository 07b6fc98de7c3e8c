#include "dialogs/AddressTexts.h"

#include <gtest/gtest.h>

namespace {

TEST(AddressTexts, RangePadsToThreeDigitsWithoutSeparator) {
    EXPECT_EQ(AddressTexts::Range("192.168.1.", 1, 3),
              (QStringList{"192.168.1.001", "192.168.1.002", "192.168.1.003"}));
    EXPECT_EQ(AddressTexts::Range("net", 12, 12), QStringList{"net012"});
    EXPECT_EQ(AddressTexts::Range("", 254, 255), (QStringList{"254", "255"}));
    EXPECT_EQ(AddressTexts::Range("x", 1000, 1000), QStringList{"x1000"});
    EXPECT_EQ(AddressTexts::Range("x", -5, -5), QStringList{"x-005"});
}

TEST(AddressTexts, RangeWithToBelowFromIsEmpty) {
    EXPECT_TRUE(AddressTexts::Range("10.0.0.", 200, 100).isEmpty());
    EXPECT_EQ(AddressTexts::Range("10.0.0.", 7, 7), QStringList{"10.0.0.007"});
    EXPECT_EQ(AddressTexts::Range("a", 1, 255).size(), 255);
}

TEST(AddressTexts, Ipv6NetworksRunTheirLastGroupInCanonicalText) {
    EXPECT_EQ(AddressTexts::Range("fd00:12::", 1, 3),
              (QStringList{"fd00:12::1", "fd00:12::2", "fd00:12::3"}));
    EXPECT_EQ(AddressTexts::Range("FD00:0:0:0:0:0:0:", 254, 255),
              (QStringList{"fd00::fe", "fd00::ff"}));
    EXPECT_EQ(AddressTexts::Range("fd00:1:2:3:4:5:6:", 16, 16), QStringList{"fd00:1:2:3:4:5:6:10"});
    EXPECT_TRUE(AddressTexts::Range("fd00:12::", 200, 100).isEmpty());
    // Texts that no address completes stay plain texts with numbers.
    EXPECT_EQ(AddressTexts::Range("fd00:12:", 1, 1), QStringList{"fd00:12:001"});
    EXPECT_EQ(AddressTexts::Range("fd00::1", 1, 1), QStringList{"fd00::1001"});
}

} // namespace

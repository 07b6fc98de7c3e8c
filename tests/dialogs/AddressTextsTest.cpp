#include "dialogs/AddressTexts.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

TEST(AddressTexts, SameIgnoresCaseButNotBlanks) {
    EXPECT_TRUE(AddressTexts::Same("Host", "host"));
    EXPECT_TRUE(AddressTexts::Same(QString::fromUtf8("MÜNCHEN"), QString::fromUtf8("münchen")));
    EXPECT_TRUE(AddressTexts::Same("", ""));
    EXPECT_FALSE(AddressTexts::Same(" host", "host"));
    EXPECT_FALSE(AddressTexts::Same("host", "host "));
    EXPECT_FALSE(AddressTexts::Same("", " "));
    EXPECT_FALSE(AddressTexts::Same("10.0.0.1", "10.0.0.10"));
}

TEST(AddressTexts, OrderIsTextualAndCaseInsensitive) {
    QStringList list{"b", "host9", "A", "10.0.0.2", "host10", "", "10.0.0.10"};
    std::sort(list.begin(), list.end(), AddressTexts::Less);
    EXPECT_EQ(list, (QStringList{"", "10.0.0.10", "10.0.0.2", "A", "b", "host10", "host9"}));
    // Entries that differ only in case still have a fixed order.
    EXPECT_NE(AddressTexts::Less("a", "A"), AddressTexts::Less("A", "a"));
    EXPECT_FALSE(AddressTexts::Less("a", "a"));
}

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

} // namespace

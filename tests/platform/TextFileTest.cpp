#include "platform/TextFile.h"

#include <gtest/gtest.h>

using platform::DecodeTextLine;
using platform::EncodeTextLine;

TEST(TextFile, LinesThatAreNotUtf8AreReadAsLatin1AndStayDistinct) {
    const QString e = DecodeTextLine("caf\xE9");
    const QString g = DecodeTextLine("caf\xE8");
    EXPECT_EQ(e, QStringLiteral(u"caf\u00E9"));
    EXPECT_NE(e, g);
    EXPECT_FALSE(e.contains(QChar::ReplacementCharacter));
    // Written back as UTF-8, the line reads as the same text again.
    EXPECT_EQ(DecodeTextLine(EncodeTextLine(e)), e);
}

TEST(TextFile, Utf8LinesAreReadAsUtf8) {
    EXPECT_EQ(DecodeTextLine("h\xC3\xB4te"), QStringLiteral(u"h\u00F4te"));
    EXPECT_EQ(DecodeTextLine(""), QString());
    // A truncated sequence at the end makes the line Latin-1 as a whole.
    EXPECT_EQ(DecodeTextLine("ab\xC3"), QStringLiteral(u"ab\u00C3"));
}

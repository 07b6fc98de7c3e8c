#include "files/TextFile.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using files::DecodeTextLine;
using files::EncodeTextLine;

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

using netsonde::test::AsUnprivilegedUser;
using netsonde::test::ContentOf;

TEST(TextFile, FolderThatIsNotWritableGetsTheFileWrittenInPlace) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("shared");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/hosts.net";
    const QString absent = folder + "/new.net";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("a much longer earlier content\r\n");
    }
    ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), 0666), 0);
    ASSERT_EQ(::chmod(dir.path().toLocal8Bit().constData(), 0755), 0);
    ASSERT_EQ(::chmod(folder.toLocal8Bit().constData(), 0555), 0);

    QString error;
    bool written = false, created = false;
    {
        AsUnprivilegedUser user;
        ASSERT_TRUE(user.Ready());
        if (::faccessat(AT_FDCWD, folder.toLocal8Bit().constData(), W_OK, AT_EACCESS) == 0)
            GTEST_SKIP() << "the folder stays writable for this user";
        written = files::WriteFileReplacing(path, "new\r\n", error);
        created = files::WriteFileReplacing(absent, "new\r\n", error);
    }
    ::chmod(folder.toLocal8Bit().constData(), 0755);
    EXPECT_TRUE(written);
    EXPECT_EQ(ContentOf(path), QByteArray("new\r\n"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"hosts.net"});
    // A file that is not there yet cannot be made, and the message says which.
    EXPECT_FALSE(created);
    EXPECT_TRUE(error.contains(absent)) << error.toStdString();
}

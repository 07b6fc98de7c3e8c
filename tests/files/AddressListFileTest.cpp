#include "files/AddressListFile.h"

#include "support/ScratchMount.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using netsonde::test::ContentOf;
using netsonde::test::PutContent;

namespace {

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

TEST(AddressListParse, SplitsAtEveryKindOfLineEnd) {
    EXPECT_EQ(AddressListFile::Parse("a\r\nb\rc\nd"), (QStringList{"a", "b", "c", "d"}));
    // LF then CR are two line ends; CR LF is one.
    EXPECT_EQ(AddressListFile::Parse("a\n\rb\r\n"), (QStringList{"a", "", "b"}));
    EXPECT_EQ(AddressListFile::Parse("\r\n\r\n"), (QStringList{"", ""}));
}

TEST(AddressListParse, KeepsEmptyLinesDuplicatesAndBlanks) {
    EXPECT_EQ(AddressListFile::Parse("b\na\na\n\n"), (QStringList{"b", "a", "a", ""}));
    EXPECT_EQ(AddressListFile::Parse(" host \t\n"), (QStringList{" host \t"}));
}

TEST(AddressListParse, StopsAtZeroByte) {
    EXPECT_EQ(AddressListFile::Parse(QByteArray("a\nb\0c\nd", 7)), (QStringList{"a", "b"}));
    EXPECT_EQ(AddressListFile::Parse(QByteArray("a\n\0b", 4)), (QStringList{"a"}));
    EXPECT_TRUE(AddressListFile::Parse(QByteArray("\0a", 2)).isEmpty());
}

TEST(AddressListParse, EmptyInputGivesNoEntries) {
    EXPECT_TRUE(AddressListFile::Parse("").isEmpty());
}

TEST(AddressListParse, ReadsSystemEncoding) {
    EXPECT_EQ(AddressListFile::Parse("m\xc3\xbcnchen.example\r\n"),
              (QStringList{QString::fromUtf8("münchen.example")}));
}

TEST(AddressListFormat, EveryEntryEndsWithCrLfAndNothingElse) {
    EXPECT_EQ(AddressListFile::Format({"10.0.0.1", "", "host"}),
              QByteArray("10.0.0.1\r\n\r\nhost\r\n"));
    EXPECT_EQ(AddressListFile::Format({}), QByteArray());
    EXPECT_EQ(AddressListFile::Format({QString::fromUtf8("münchen")}),
              QByteArray("m\xc3\xbcnchen\r\n"));
}

TEST(AddressListFiles, WriteThenReadRoundTrips) {
    QTemporaryDir dir;
    const QString path = dir.filePath("hosts.NET");
    QString error;
    const QStringList entries{"", " a", "a", "B", "host10", "host9"};
    ASSERT_TRUE(AddressListFile::Write(path, entries, error)) << error.toStdString();
    EXPECT_EQ(ContentOf(path), QByteArray("\r\n a\r\na\r\nB\r\nhost10\r\nhost9\r\n"));
    QStringList back{"stale"};
    ASSERT_EQ(AddressListFile::Read(path, back, error), files::LoadStatus::Done);
    EXPECT_EQ(back, entries);
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(filesIn(dir.path()), QStringList{"hosts.NET"});
}

TEST(AddressListFiles, WriteReplacesLongerEarlierContent) {
    QTemporaryDir dir;
    const QString path = dir.filePath("hosts.NET");
    PutContent(path, QByteArray(4096, 'x'));
    QString error;
    ASSERT_TRUE(AddressListFile::Write(path, {"a"}, error));
    EXPECT_EQ(ContentOf(path), QByteArray("a\r\n"));
}

TEST(AddressListFiles, ReadStopsAtZeroByteInLargeFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("big.net");
    QByteArray bytes;
    for (int i = 0; i < 20000; ++i)
        bytes += "host" + QByteArray::number(i) + "\n";
    const qsizetype lines = bytes.size();
    bytes += QByteArray("tail\0", 5) + QByteArray(100000, 'z');
    PutContent(path, bytes);
    QStringList entries;
    QString error;
    ASSERT_EQ(AddressListFile::Read(path, entries, error), files::LoadStatus::Done);
    ASSERT_EQ(entries.size(), 20001);
    EXPECT_EQ(entries.last(), "tail");
    EXPECT_GT(lines, 64 * 1024); // the zero byte lies beyond the first piece read
}

TEST(AddressListFiles, UnreadableFileNamesItAndLeavesEntries) {
    QTemporaryDir dir;
    QStringList entries{"keep"};
    QString error;
    const QString missing = dir.filePath("missing.net");
    EXPECT_EQ(AddressListFile::Read(missing, entries, error), files::LoadStatus::Failed);
    EXPECT_TRUE(error.contains(missing)) << error.toStdString();
    EXPECT_EQ(AddressListFile::Read(dir.path(), entries, error), files::LoadStatus::Failed);
    EXPECT_TRUE(error.contains(dir.path())) << error.toStdString();
    EXPECT_EQ(entries, QStringList{"keep"});
}

TEST(AddressListFiles, FailedSaveInReadOnlyFolderKeepsEarlierFile) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("ro");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/hosts.net";
    const QByteArray earlier("old1\r\nold2\r\n");

    netsonde::test::ScratchMount mount(folder, 64);
    PutContent(path, earlier);
    if (mount.Mounted()) {
        ASSERT_TRUE(mount.MakeReadOnly());
    } else {
        // A file the user may write is written in place; this one may not be.
        ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), 0444), 0);
        ASSERT_EQ(::chmod(folder.toLocal8Bit().constData(), 0555), 0);
    }
    if (!mount.Mounted() && ::access(folder.toLocal8Bit().constData(), W_OK) == 0)
        GTEST_SKIP() << "the folder stays writable for this user";

    QString error;
    EXPECT_FALSE(AddressListFile::Write(path, {"new"}, error));
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
    EXPECT_EQ(ContentOf(path), earlier);
    EXPECT_EQ(filesIn(folder), QStringList{"hosts.net"});
    ::chmod(folder.toLocal8Bit().constData(), 0755);
}

TEST(AddressListFiles, FailedSaveOnFullFileSystemKeepsEarlierFileAndNoTemporary) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("full");
    ASSERT_TRUE(QDir().mkpath(folder));
    netsonde::test::ScratchMount mount(folder, 64);
    if (!mount.Mounted())
        GTEST_SKIP() << "mounting a small file system needs root";

    const QString path = folder + "/hosts.net";
    const QByteArray earlier("old1\r\nold2\r\n");
    PutContent(path, earlier);
    ASSERT_TRUE(mount.FillUp());
    QStringList many;
    for (int i = 0; i < 5000; ++i)
        many << QStringLiteral("host-%1.example").arg(i);

    QString error;
    EXPECT_FALSE(AddressListFile::Write(path, many, error));
    EXPECT_TRUE(error.contains(path) && error.contains("No space left on device"))
        << error.toStdString();
    EXPECT_EQ(ContentOf(path), earlier);
    EXPECT_EQ(filesIn(folder), (QStringList{"filler", "hosts.net"}));
}

} // namespace

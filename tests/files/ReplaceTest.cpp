// Saving over an existing file: the file keeps its owner, group, mode and
// other names, and a save that cannot finish leaves it exactly as it was.
#include "files/AddressListFile.h"
#include "files/IniFile.h"
#include "files/SessionFile.h"
#include "files/TextFile.h"

#include "support/HostileFiles.h"
#include "support/ScratchMount.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using files::WriteFileReplacing;
using netsonde::test::AsUnprivilegedUser;
using netsonde::test::ContentOf;
using netsonde::test::PutContent;

namespace {

struct stat statOf(const QString& path) {
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << qPrintable(path);
    return st;
}

QByteArray name(const QString& path) {
    return QFile::encodeName(path);
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// A folder everyone may use, inside a temporary one.
class OpenFolder {
public:
    OpenFolder() {
        path = dir.filePath("shared");
        QDir().mkpath(path);
        ::chmod(name(dir.path()).constData(), 0755);
        ::chmod(name(path).constData(), 0777);
    }
    QString File(const char* file) const { return path + '/' + file; }

    QTemporaryDir dir;
    QString path;
};

TEST(Replace, OwnerGroupAndModeOfTheEarlierFileStay) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    OpenFolder folder;
    // Root replaces by rename and gives the new file the old one's owner.
    const QString theirs = folder.File("theirs.nsd");
    PutContent(theirs, "[old]\r\n=\r\n");
    ASSERT_EQ(::chown(name(theirs).constData(), 1234, 65534), 0);
    ASSERT_EQ(::chmod(name(theirs).constData(), 0640), 0);
    QString error;
    ASSERT_TRUE(files::SessionFile::Write(theirs, {{"new", std::nullopt}}, error))
        << error.toStdString();
    struct stat st = statOf(theirs);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ContentOf(theirs), QByteArray("[new]\r\n=\r\n"));

    // A user who may write another user's file but not give it away writes
    // it in place.
    const QString shared = folder.File("shared.net");
    PutContent(shared, "a much longer earlier content\r\n");
    ASSERT_EQ(::chown(name(shared).constData(), 1234, 65534), 0);
    ASSERT_EQ(::chmod(name(shared).constData(), 0664), 0);
    bool written = false;
    {
        AsUnprivilegedUser user;
        ASSERT_TRUE(user.Ready());
        written = AddressListFile::Write(shared, {"b"}, error);
    }
    EXPECT_TRUE(written) << error.toStdString();
    st = statOf(shared);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_EQ(ContentOf(shared), QByteArray("b\r\n"));
    EXPECT_EQ(filesIn(folder.path), (QStringList{"shared.net", "theirs.nsd"}));
}

TEST(Replace, ModeStaysAndAFileTheUserMayNotWriteIsRefused) {
    OpenFolder folder;
    const QString path = folder.File("hosts.net");
    PutContent(path, "old\r\n");
    ASSERT_EQ(::chmod(name(path).constData(), 0604), 0);
    QString error;
    ASSERT_TRUE(AddressListFile::Write(path, {"new"}, error)) << error.toStdString();
    EXPECT_EQ(statOf(path).st_mode & 07777, 0604u);

    const QString readOnly = folder.File("ro.net");
    PutContent(readOnly, "old\r\n");
    ASSERT_EQ(::chmod(name(readOnly).constData(), 0444), 0);
    bool written = true;
    {
        AsUnprivilegedUser user;
        ASSERT_TRUE(user.Ready());
        written = AddressListFile::Write(readOnly, {"new"}, error);
    }
    EXPECT_FALSE(written);
    EXPECT_TRUE(error.contains(readOnly) && error.contains("Permission denied"))
        << error.toStdString();
    EXPECT_EQ(ContentOf(readOnly), QByteArray("old\r\n"));
    EXPECT_EQ(statOf(readOnly).st_mode & 07777, 0444u);

    // A new file gets the default permissions, not those of a temporary file.
    const QString fresh = folder.File("fresh.net");
    ASSERT_TRUE(AddressListFile::Write(fresh, {"x"}, error));
    const mode_t mask = ::umask(022);
    ::umask(mask);
    EXPECT_EQ(statOf(fresh).st_mode & 0777, 0666u & ~mask);
}

TEST(Replace, HardLinksAndSymbolicLinksSeeTheNewContent) {
    OpenFolder folder;
    const QString path = folder.File("a.nsd");
    const QString other = folder.File("b.nsd");
    PutContent(path, "[old]\r\n=\r\n");
    ASSERT_EQ(::link(name(path).constData(), name(other).constData()), 0);
    QString error;
    ASSERT_TRUE(files::SessionFile::Write(path, {{"new", QStringList{"1"}}}, error));
    EXPECT_EQ(ContentOf(other), QByteArray("[new]\r\n0=1\r\n"));
    EXPECT_EQ(statOf(path).st_ino, statOf(other).st_ino);

    const QString link = folder.File("link.nsd");
    ASSERT_EQ(::symlink("a.nsd", name(link).constData()), 0);
    ASSERT_TRUE(files::SessionFile::Write(link, {{"third", std::nullopt}}, error));
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), path);
    EXPECT_EQ(ContentOf(other), QByteArray("[third]\r\n=\r\n"));

    // A link to a file not there yet makes the file and stays a link.
    const QString dangling = folder.File("dangling.nsd");
    ASSERT_EQ(::symlink("made.nsd", name(dangling).constData()), 0);
    ASSERT_TRUE(files::SessionFile::Write(dangling, {{"fourth", std::nullopt}}, error))
        << error.toStdString();
    EXPECT_TRUE(QFileInfo(dangling).isSymLink());
    EXPECT_EQ(ContentOf(folder.File("made.nsd")), QByteArray("[fourth]\r\n=\r\n"));
}

TEST(Replace, OnlyARegularFileIsReplaced) {
    // A FIFO without a reader would block the save for ever.
    const netsonde::test::HostileFiles hostile;
    for (const auto& [path, reason] : hostile.cases) {
        if (reason.contains("larger"))
            continue; // a regular file, only too large to read
        QString error;
        EXPECT_FALSE(AddressListFile::Write(path, {"x"}, error)) << qPrintable(path);
        EXPECT_TRUE(error.contains(path)) << error.toStdString();
        EXPECT_FALSE(S_ISREG(statOf(path).st_mode)) << qPrintable(path);
    }
}

TEST(Replace, FullDiskDuringAnInPlaceWriteKeepsTheEarlierFile) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("fs");
    ASSERT_TRUE(QDir().mkpath(folder));
    netsonde::test::ScratchMount mount(folder, 256);
    if (!mount.Mounted())
        GTEST_SKIP() << "mounting a small file system needs root";
    // A second name makes the save write in place.
    const QString path = folder + "/s.nsd";
    const QByteArray earlier = QByteArray("[old]\r\n0=line\r\n").repeated(500);
    PutContent(path, earlier);
    ASSERT_EQ(::link(name(path).constData(), name(folder + "/other.nsd").constData()), 0);
    ASSERT_TRUE(mount.FillUp());
    QList<files::SessionFile::Entry> big;
    for (int i = 0; i < 4000; ++i)
        big.append({QStringLiteral("host-%1.example").arg(i), QStringList{"some result line"}});
    QString error;
    EXPECT_FALSE(files::SessionFile::Write(path, big, error));
    EXPECT_TRUE(error.contains(path) && error.contains("No space left on device"))
        << error.toStdString();
    EXPECT_EQ(ContentOf(path), earlier);
    EXPECT_EQ(filesIn(folder), (QStringList{"filler", "other.nsd", "s.nsd"}));

    // With room again, the same save goes through whole.
    ASSERT_TRUE(QFile::remove(folder + "/filler"));
    ASSERT_TRUE(files::SessionFile::Write(path, big, error)) << error.toStdString();
    EXPECT_EQ(ContentOf(folder + "/other.nsd"), files::SessionFile::ToIni(big).Format());
}

} // namespace

// Loading files that a careless click or a strange disk hands the program:
// nothing blocks, nothing grows without bound, nothing is lost quietly.
#include "files/AddressListFile.h"
#include "files/FileReader.h"
#include "files/IniFile.h"
#include "files/SessionFile.h"

#include "support/HostileFiles.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using files::LoadControl;
using files::LoadStatus;
using files::SessionFile;
using netsonde::test::AsUnprivilegedUser;
using netsonde::test::PutContent;

namespace {

struct Outcome {
    LoadStatus session;
    LoadStatus list;
    QString sessionError;
    QString listError;
};

// Loads path as both kinds of file into lists that hold something already,
// and checks that a load that did not succeed left them alone.
Outcome loadBoth(const QString& path, LoadControl* control = nullptr) {
    Outcome out;
    QList<SessionFile::Entry> session{{"kept", QStringList{"line"}}};
    QStringList list{"kept"};
    out.session = SessionFile::Read(path, session, out.sessionError, control);
    out.list = AddressListFile::Read(path, list, out.listError, control);
    if (out.session != LoadStatus::Done) {
        EXPECT_EQ(session, (QList<SessionFile::Entry>{{"kept", QStringList{"line"}}}));
    }
    if (out.list != LoadStatus::Done) {
        EXPECT_EQ(list, QStringList{"kept"});
    }
    return out;
}

void expectRefused(const QString& path, const char* reason) {
    const Outcome out = loadBoth(path);
    EXPECT_EQ(out.session, LoadStatus::Failed) << qPrintable(path);
    EXPECT_EQ(out.list, LoadStatus::Failed) << qPrintable(path);
    for (const QString& error : {out.sessionError, out.listError}) {
        EXPECT_TRUE(error.contains(path)) << error.toStdString();
        EXPECT_TRUE(error.contains(reason)) << error.toStdString();
    }
}

TEST(HostileFiles, AnythingButARegularFileIsRefusedAtOnce) {
    const netsonde::test::HostileFiles hostile;
    for (const auto& [path, reason] : hostile.cases)
        expectRefused(path, qPrintable(reason));
}

TEST(HostileFiles, ReadingStopsAtTheLimitWhenTheFileGrows) {
    QTemporaryDir dir;
    // A file that grows while it is read is cut off at the limit too.
    const QString growing = dir.filePath("growing.net");
    PutContent(growing, QByteArray(1 << 20, 'a'));
    QFile appender(growing);
    ASSERT_TRUE(appender.open(QIODevice::Append));
    files::SetAfterPieceHook([&](LoadControl&) { appender.write(QByteArray(1 << 20, 'b')); });
    LoadControl control;
    qint64 taken = 0;
    QString error;
    const LoadStatus status = files::ReadPieces(
        growing, &control,
        [&](QByteArrayView piece) {
            taken += piece.size();
            return true;
        },
        error, qint64(3) << 20);
    files::SetAfterPieceHook({});
    EXPECT_EQ(status, LoadStatus::Failed);
    EXPECT_LE(taken, qint64(3) << 20);
    EXPECT_TRUE(error.contains(growing) && error.contains("larger than 3 MiB"))
        << error.toStdString();
}

TEST(HostileFiles, TooManyEntriesAreRefusedWhole) {
    QTemporaryDir dir;
    const QString list = dir.filePath("lines.net");
    PutContent(list, QByteArray(AddressListFile::MaxEntries + 1, '\n'));
    const QString session = dir.filePath("sections.nsd");
    PutContent(session, QByteArray("[]\n").repeated(SessionFile::MaxEntries + 1));
    QStringList entries{"kept"};
    QList<SessionFile::Entry> sections;
    QString error;
    EXPECT_EQ(AddressListFile::Read(list, entries, error), LoadStatus::Failed);
    EXPECT_TRUE(error.contains(list) && error.contains("more than")) << error.toStdString();
    EXPECT_EQ(entries, QStringList{"kept"});
    EXPECT_EQ(SessionFile::Read(session, sections, error), LoadStatus::Failed);
    EXPECT_TRUE(error.contains(session) && error.contains("more than")) << error.toStdString();
    EXPECT_TRUE(sections.isEmpty());
}

TEST(HostileFiles, CancelStopsTheLoadAndChangesNothing) {
    QTemporaryDir dir;
    const QString path = dir.filePath("big.nsd");
    PutContent(path, QByteArray("[h]\r\n0=x\r\n").repeated(300000));
    LoadControl control;
    int pieces = 0;
    files::SetAfterPieceHook([&](LoadControl& c) {
        ++pieces;
        c.cancel = true;
    });
    const Outcome out = loadBoth(path, &control);
    files::SetAfterPieceHook({});
    EXPECT_EQ(out.session, LoadStatus::Cancelled);
    EXPECT_EQ(out.list, LoadStatus::Cancelled);
    EXPECT_EQ(pieces, 1); // the list load saw the cancel before its first piece
}

TEST(HostileFiles, ErrorsNameTheFileAndTheSystemsReason) {
    QTemporaryDir dir;
    const QString missing = dir.filePath("missing.nsd");
    Outcome out = loadBoth(missing);
    for (const QString& error : {out.sessionError, out.listError}) {
        EXPECT_TRUE(error.contains(missing) && error.contains("No such file or directory"))
            << error.toStdString();
    }
    const QString locked = dir.filePath("locked.net");
    PutContent(locked, "a\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0000), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    {
        AsUnprivilegedUser user;
        ASSERT_TRUE(user.Ready());
        out = loadBoth(locked);
    }
    EXPECT_TRUE(out.listError.contains(locked) && out.listError.contains("Permission denied"))
        << out.listError.toStdString();

    QString error;
    EXPECT_FALSE(SessionFile::Write(dir.path(), {}, error));
    EXPECT_TRUE(error.contains(dir.path()) && error.contains("Is a directory"))
        << error.toStdString();
}

TEST(ByteOrderMark, OneAtTheStartIsSkippedForBothKinds) {
    QTemporaryDir dir;
    const QString session = dir.filePath("bom.nsd");
    PutContent(session, "\xEF\xBB\xBF[first]\r\n0=a\r\n[second]\r\n=\r\n");
    QList<SessionFile::Entry> entries;
    QString error;
    ASSERT_EQ(SessionFile::Read(session, entries, error), LoadStatus::Done);
    EXPECT_EQ(entries,
              (QList<SessionFile::Entry>{{"first", QStringList{"a"}}, {"second", std::nullopt}}));

    const QString list = dir.filePath("bom.net");
    PutContent(list, "\xEF\xBB\xBF"
                     "a\r\n\xEF\xBB\xBF"
                     "b\r\n");
    QStringList lines;
    ASSERT_EQ(AddressListFile::Read(list, lines, error), LoadStatus::Done);
    // Only the mark at the very start is dropped.
    EXPECT_EQ(lines, (QStringList{"a", QStringLiteral(u"\uFEFFb")}));
    EXPECT_EQ(AddressListFile::Parse("\xEF\xBB\xBF\xEF\xBB\xBF"
                                     "a"),
              QStringList{QStringLiteral(u"\uFEFFa")});
    EXPECT_EQ(files::IniFile::Parse("\xEF\xBB\xBF[x]\r\n").sections.size(), 1);
}

TEST(LineSplitter, LinesAndLineEndsCutBetweenPiecesStayWhole) {
    // A mark, a CR LF and a line each cut between two pieces.
    files::LineSplitter splitter;
    QStringList lines;
    const auto take = [&](QByteArrayView line) { lines << QString::fromLatin1(line); };
    for (const char* piece : {"\xEF",
                              "\xBB\xBF"
                              "a\r",
                              "\nb", "c\r", "\r", "\n\n", "d"})
        splitter.Feed(piece, take);
    splitter.Finish(take);
    EXPECT_EQ(lines, (QStringList{"a", "bc", "", "", "d"}));
}

} // namespace

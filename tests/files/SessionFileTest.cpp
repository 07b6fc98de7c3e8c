#include "files/SessionFile.h"
#include "files/IniFile.h"

#include "support/ScratchMount.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using files::IniFile;
using files::SessionFile;
using netsonde::test::ContentOf;
using netsonde::test::PutContent;
using Entry = SessionFile::Entry;

namespace {

QList<Entry> parsed(QByteArrayView bytes) {
    return SessionFile::FromIni(IniFile::Parse(bytes));
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

TEST(SessionFiles, SavedBytesAreTheKnownFormat) {
    const QList<Entry> entries{
        {"192.168.1.1",
         QStringList{"56 bytes received from 192.168.1.1. time = 1ms", "", "",
                     "Stats: Rcvd/Sent: 1/1, Min/Avg/Max: 1/1/1", "", "IP Address: 192.168.1.1",
                     "Destination: gateway", "Return Name: 192.168.1.1"}},
        {"192.168.1.2", std::nullopt}};
    const QByteArray expected = "[192.168.1.1]\r\n"
                                "0=56 bytes received from 192.168.1.1. time = 1ms\r\n"
                                "1=\r\n"
                                "2=\r\n"
                                "3=Stats: Rcvd/Sent: 1/1, Min/Avg/Max: 1/1/1\r\n"
                                "4=\r\n"
                                "5=IP Address: 192.168.1.1\r\n"
                                "6=Destination: gateway\r\n"
                                "7=Return Name: 192.168.1.1\r\n"
                                "[192.168.1.2]\r\n"
                                "=\r\n";
    EXPECT_EQ(SessionFile::ToIni(entries).Format(), expected);
    EXPECT_EQ(parsed(expected), entries);
}

TEST(SessionFiles, RoundTripKeepsEmptyLinesTabsManyKeysAndUnrunAddresses) {
    QStringList lines{"", "a\tb\tc", "", "h\u00F4te caf\u00E9"};
    for (int i = 0; i < 20; ++i) // keys 10 and up sort before 2 as text
        lines << QStringLiteral("line %1").arg(i);
    const QList<Entry> entries{
        {"10.0.0.10", lines}, {"10.0.0.2", std::nullopt}, {"host.example", QStringList{""}}};
    QTemporaryDir dir;
    const QString path = dir.filePath("s.nsd");
    QString error;
    ASSERT_TRUE(SessionFile::Write(path, entries, error)) << error.toStdString();
    QList<Entry> back;
    ASSERT_EQ(SessionFile::Read(path, back, error), files::LoadStatus::Done) << error.toStdString();
    EXPECT_EQ(back, entries);
}

TEST(SessionFiles, HandWrittenFilesReadByIniConventions) {
    // Sections in file order (the list sorts them), keys not interpreted,
    // blanks and one pair of quotes removed, stray lines ignored.
    const QByteArray text = "stray=before any section\r\n"
                            "[b]\n"
                            "1=first\n"
                            "0=second\r"
                            "  \t[ A ]  trailing\r\n"
                            "not an entry\r\n"
                            "  key \t=  \t  padded value\t \r\n"
                            "2=\"quoted  \"\r\n"
                            "3='single'\r\n"
                            "4=\"unbalanced'\r\n"
                            "5=a=b\r\n"
                            "[empty]\r\n"
                            "\r\n"
                            "[caf\xE9]\r\n"
                            "0=Latin-1 \xE8t\xE9\r\n";
    const QList<Entry> expected{
        {"b", QStringList{"first", "second"}},
        {"A", QStringList{"padded value", "quoted  ", "single", "\"unbalanced'", "a=b"}},
        {"empty", std::nullopt},
        {u"caf\u00E9"_qs, QStringList{u"Latin-1 \u00E8t\u00E9"_qs}}};
    EXPECT_EQ(parsed(text), expected);

    EXPECT_TRUE(parsed("").isEmpty());
    EXPECT_TRUE(parsed("just\r\nsome text\r\nx=1\r\n").isEmpty());
    EXPECT_EQ(parsed("[h]"), (QList<Entry>{{"h", std::nullopt}}));
}

TEST(SessionFiles, EverySectionIsAnEntryOfItsOwn) {
    // Equal names, names that differ in case and empty names each stay an
    // entry with their own lines; a repeated key is a line of its own; an
    // empty key (the marker of an unrun address) yields no line.
    const QByteArray text = "[Host]\r\n0=a\r\n0=b\r\n=\r\n1=c\r\n"
                            "[other]\r\n=\r\n"
                            "[HOST]\r\n0=d\r\n"
                            "[Host]\r\n=\r\n"
                            "[]\r\n0=nameless\r\n";
    const QList<Entry> expected{{"Host", QStringList{"a", "b", "c"}},
                                {"other", std::nullopt},
                                {"HOST", QStringList{"d"}},
                                {"Host", std::nullopt},
                                {"", QStringList{"nameless"}}};
    EXPECT_EQ(parsed(text), expected);
    // Written and read again, nothing merges.
    EXPECT_EQ(parsed(SessionFile::ToIni(expected).Format()), expected);
    EXPECT_TRUE(SessionFile::ToIni(expected).Format().endsWith("[]\r\n0=nameless\r\n"));
}

TEST(SessionFiles, JoinedReadGivesTheLinesOfTheListRead) {
    QTemporaryDir dir;
    const QString path = dir.filePath("mixed.nsd");
    PutContent(path, "[a]\r\n0=plain\r\n1=\r\n2=caf\xE9\r\n3=h\xC3\xB4te\r\n4= 'q' \r\n"
                     "[b]\r\n=\r\n[c]\r\n0=\r\n");
    QList<Entry> entries;
    QString error;
    ASSERT_EQ(SessionFile::Read(path, entries, error), files::LoadStatus::Done);
    QList<Entry> joined;
    ASSERT_EQ(SessionFile::ReadJoined(
                  path,
                  [&](SessionFile::JoinedEntry&& e) {
                      joined.append(
                          {e.address, e.lines ? std::optional<QStringList>(e.lines->split(u'\n'))
                                              : std::nullopt});
                  },
                  error),
              files::LoadStatus::Done);
    EXPECT_EQ(joined, entries);
    EXPECT_EQ(entries[0].lines, (QStringList{"plain", "", u"caf\u00E9"_qs, u"h\u00F4te"_qs, "q"}));
}

// The watched paths go before the first section, where every reader of the
// list (FromIni, Read and ReadJoined without them, as older programs read)
// finds the entries it always found; a reader that asks gets them too.
TEST(SessionFiles, WatchedPathsAreAHeadThatListReadersSkip) {
    const QList<Entry> entries{{"10.61.4.2", QStringList{"56 bytes"}},
                               {"far.example", std::nullopt}};
    const QStringList watched{"far.example", "10.61.4.2"};
    const QByteArray bytes = SessionFile::ToIni(entries, watched).Format();
    EXPECT_EQ(bytes, QByteArray("PathWatch=far.example\r\nPathWatch=10.61.4.2\r\n"
                                "[10.61.4.2]\r\n0=56 bytes\r\n[far.example]\r\n=\r\n"));
    EXPECT_EQ(parsed(bytes), entries);
    EXPECT_EQ(SessionFile::PathWatchesOf(IniFile::Parse(bytes)), watched);

    QTemporaryDir dir;
    const QString path = dir.filePath("watched.nsd");
    QString error;
    ASSERT_TRUE(SessionFile::Write(path, entries, watched, error)) << error.toStdString();
    EXPECT_EQ(ContentOf(path), bytes);
    for (const bool asks : {false, true}) {
        SCOPED_TRACE(asks);
        QList<Entry> read;
        QStringList readWatched{"untouched"};
        ASSERT_EQ(SessionFile::Read(path, read, error, nullptr, asks ? &readWatched : nullptr),
                  files::LoadStatus::Done);
        EXPECT_EQ(read, entries);
        QList<Entry> joined;
        QStringList joinedWatched;
        ASSERT_EQ(SessionFile::ReadJoined(
                      path,
                      [&](SessionFile::JoinedEntry&& e) {
                          joined.append({e.address,
                                         e.lines ? std::optional<QStringList>(e.lines->split(u'\n'))
                                                 : std::nullopt});
                      },
                      error, nullptr, asks ? &joinedWatched : nullptr),
                  files::LoadStatus::Done);
        EXPECT_EQ(joined, entries);
        EXPECT_EQ(readWatched, asks ? watched : QStringList{"untouched"});
        EXPECT_EQ(joinedWatched, asks ? watched : QStringList{});
    }

    // A file written before there were watched paths reads as it did, with
    // none; and a list without any writes no head.
    QList<Entry> old;
    QStringList none{"x"};
    PutContent(path, "[a]\r\n0=1\r\n");
    ASSERT_EQ(SessionFile::Read(path, old, error, nullptr, &none), files::LoadStatus::Done);
    EXPECT_EQ(old, (QList<Entry>{{"a", QStringList{"1"}}}));
    EXPECT_TRUE(none.isEmpty());
    EXPECT_TRUE(SessionFile::ToIni(entries, {}).Format().startsWith("[10.61.4.2]"));
}

// Hand-written heads: only the PathWatch key counts, blanks go, empty and
// repeated ones are dropped, and no more are read than may open windows.
TEST(SessionFiles, WatchedPathsReadByIniConventionsAndBounded) {
    QByteArray head = "PathWatch= a \r\nPathWatch=\r\npathwatch=b\r\nOther=c\r\nno equals\r\n"
                      "PathWatch=a\r\nPathWatch=\"d\"\r\n";
    EXPECT_EQ(SessionFile::PathWatchesOf(IniFile::Parse(head + "[x]\r\n=\r\n")),
              (QStringList{"a", "d"}));
    EXPECT_TRUE(
        SessionFile::PathWatchesOf(IniFile::Parse("[x]\r\nPathWatch=in a section\r\n")).isEmpty());
    QByteArray many;
    QStringList first;
    for (int i = 0; i < SessionFile::MaxPathWatches + 8; ++i) {
        many += "PathWatch=h" + QByteArray::number(i) + "\r\n";
        if (i < SessionFile::MaxPathWatches)
            first << QStringLiteral("h%1").arg(i);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("many.nsd");
    PutContent(path, many + "[x]\r\n=\r\n");
    QList<Entry> entries;
    QStringList watched;
    QString error;
    ASSERT_EQ(SessionFile::Read(path, entries, error, nullptr, &watched), files::LoadStatus::Done);
    EXPECT_EQ(watched, first);
    EXPECT_EQ(entries, (QList<Entry>{{"x", std::nullopt}}));
}

TEST(SessionFiles, LineBreaksInsideTextsCannotStartLinesOfTheirOwn) {
    const QList<Entry> entries{{"h", QStringList{"one\r\n[evil]\r\n0=x"}}};
    EXPECT_EQ(parsed(SessionFile::ToIni(entries).Format()),
              (QList<Entry>{{"h", QStringList{"one  [evil]  0=x"}}}));
}

TEST(SessionFiles, SaveOverLongerFileLeavesOnlyTheNewSession) {
    QTemporaryDir dir;
    const QString path = dir.filePath("s.nsd");
    QList<Entry> five;
    for (int i = 0; i < 5; ++i)
        five.append({QStringLiteral("host%1").arg(i), QStringList{"x", "y"}});
    QString error;
    ASSERT_TRUE(SessionFile::Write(path, five, error));
    const QList<Entry> two{{"a", QStringList{"1"}}, {"b", std::nullopt}};
    ASSERT_TRUE(SessionFile::Write(path, two, error));
    EXPECT_EQ(ContentOf(path), QByteArray("[a]\r\n0=1\r\n[b]\r\n=\r\n"));
    EXPECT_EQ(filesIn(dir.path()), QStringList{"s.nsd"});
}

TEST(SessionFiles, FailedSavesKeepTheEarlierFile) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("fs");
    ASSERT_TRUE(QDir().mkpath(folder));
    netsonde::test::ScratchMount mount(folder, 64);
    if (!mount.Mounted())
        GTEST_SKIP() << "mounting a small file system needs root";
    const QString path = folder + "/s.nsd";
    const QByteArray earlier("[old]\r\n=\r\n");
    PutContent(path, earlier);
    ASSERT_TRUE(mount.FillUp());
    QList<Entry> big;
    for (int i = 0; i < 2000; ++i)
        big.append({QStringLiteral("host-%1.example").arg(i), QStringList{"some result line"}});

    QString error;
    EXPECT_FALSE(SessionFile::Write(path, big, error));
    EXPECT_TRUE(error.contains(path) && error.contains("No space left on device"))
        << error.toStdString();
    EXPECT_EQ(ContentOf(path), earlier);
    EXPECT_EQ(filesIn(folder), (QStringList{"filler", "s.nsd"}));

    ASSERT_TRUE(QFile::remove(folder + "/filler"));
    ASSERT_TRUE(mount.MakeReadOnly());
    error.clear();
    EXPECT_FALSE(SessionFile::Write(path, {{"new", std::nullopt}}, error));
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
    EXPECT_EQ(ContentOf(path), earlier);
}

TEST(SessionFiles, LargeSessionLoadsWhole) {
    // Far beyond what a fixed 8 KiB name buffer or 1,023-character value holds.
    QList<Entry> entries;
    const QString longLine(5000, u'x');
    for (int i = 0; i < 5000; ++i) {
        QStringList lines;
        for (int j = 0; j < 12; ++j)
            lines << QStringLiteral("reply %1 from host-%2").arg(j).arg(i);
        if (i == 4999)
            lines << longLine;
        entries.append({QStringLiteral("host-%1.example").arg(i, 5, 10, QChar(u'0')), lines});
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("big.nsd");
    QString error;
    ASSERT_TRUE(SessionFile::Write(path, entries, error));
    QList<Entry> back;
    ASSERT_EQ(SessionFile::Read(path, back, error), files::LoadStatus::Done);
    ASSERT_EQ(back.size(), 5000);
    EXPECT_EQ(back, entries);
}

TEST(SessionFiles, RandomBytesNeverCrashOrHang) {
    // Bytes drawn mostly from the ones that matter to the reader.
    static const char bytesThatMatter[] = "[]=\r\n \t\"'\0aZ9\xC3\xA9\xFF\x80";
    const QByteArray alphabet(bytesThatMatter, sizeof bytesThatMatter - 1);
    QRandomGenerator random(20261208);
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes(random.bounded(400), '\0');
        for (char& c : bytes)
            c = random.bounded(4) == 0 ? char(random.bounded(256))
                                       : alphabet[random.bounded(alphabet.size())];
        const QList<Entry> first = parsed(bytes);
        // Writing what was read and reading it again keeps every address
        // and the number of lines of each.
        const QList<Entry> second = parsed(SessionFile::ToIni(first).Format());
        ASSERT_EQ(second.size(), first.size()) << bytes.toHex().constData();
        for (qsizetype i = 0; i < first.size(); ++i) {
            EXPECT_EQ(second[i].address, first[i].address);
            EXPECT_EQ(second[i].lines.has_value(), first[i].lines.has_value());
            if (first[i].lines && second[i].lines) {
                EXPECT_EQ(second[i].lines->size(), first[i].lines->size());
            }
        }
    }
    EXPECT_LT(timer.elapsed(), 60000);
}

} // namespace

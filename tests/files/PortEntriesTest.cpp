// Entries that name a port in the files that store the list: the text of
// each entry is kept byte for byte, brackets, colons and "/udp" included,
// beside plain entries that do not change.
#include "files/AddressListFile.h"
#include "files/SessionFile.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QStringList kEntries{"far.nsd.test:443",   "far.nsd.test:53/udp", "[fd00:61:4::2]:443",
                           "[fe80::1%c0]:7/UDP", "10.61.4.2:00080",     "far.nsd.test",
                           "fd00:61:4::2",       "host:80/tcp"};

TEST(PortEntries, AddressListFileKeepsEveryEntryByteForByte) {
    QTemporaryDir dir;
    const QString path = dir.filePath("ports.NET");
    QString error;
    ASSERT_TRUE(AddressListFile::Write(path, kEntries, error)) << error.toStdString();
    EXPECT_EQ(netsonde::test::ContentOf(path), kEntries.join("\r\n").toUtf8() + "\r\n");
    QStringList back;
    ASSERT_EQ(AddressListFile::Read(path, back, error), files::LoadStatus::Done);
    EXPECT_EQ(back, kEntries);
}

TEST(PortEntries, SessionFileKeepsSectionsOfPortEntriesAndTheirLines) {
    using Entry = files::SessionFile::Entry;
    QList<Entry> entries;
    for (const QString& address : kEntries)
        entries.append({address, std::nullopt});
    entries[0].lines = QStringList{"connected to far.nsd.test:443. time = 1ms", "",
                                   "Stats: Rcvd/Sent: 1/1, Min/Avg/Max: 1/1/1"};
    entries[2].lines = QStringList{"1\t0\tr1.nsd.test", "2\t0\tsix.nsd.test\tconnected"};
    QTemporaryDir dir;
    const QString path = dir.filePath("ports.nsd");
    QString error;
    ASSERT_TRUE(files::SessionFile::Write(path, entries, error)) << error.toStdString();
    const QByteArray bytes = netsonde::test::ContentOf(path);
    EXPECT_TRUE(bytes.contains("\r\n[[fd00:61:4::2]:443]\r\n")) << bytes.toStdString();
    EXPECT_TRUE(bytes.contains("\r\n[far.nsd.test:53/udp]\r\n"));
    QList<Entry> back;
    ASSERT_EQ(files::SessionFile::Read(path, back, error), files::LoadStatus::Done);
    EXPECT_EQ(back, entries);
}

} // namespace

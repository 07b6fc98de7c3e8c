// IPv6 entries in the files that store the list: literals with colons,
// zones and the lines of their runs come back as they were written.
#include "files/AddressListFile.h"
#include "files/SessionFile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QStringList kEntries{"2001:db8::ff", "::1", "fd00:61:4::2", "fe80::1%c0", "six.nsd.test"};

TEST(Ipv6Entries, AddressListFileRoundTrips) {
    QTemporaryDir dir;
    const QString path = dir.filePath("six.NET");
    QString error;
    ASSERT_TRUE(AddressListFile::Write(path, kEntries, error)) << error.toStdString();
    QStringList back;
    ASSERT_EQ(AddressListFile::Read(path, back, error), files::LoadStatus::Done)
        << error.toStdString();
    EXPECT_EQ(back, kEntries);
}

TEST(Ipv6Entries, SessionFileRoundTripsSectionsAndResultLines) {
    using Entry = files::SessionFile::Entry;
    QList<Entry> entries;
    for (const QString& address : kEntries)
        entries.append({address, std::nullopt});
    entries[2].lines = QStringList{"56 bytes received from fd00:61:4::2. time = 1ms",
                                   "",
                                   "",
                                   "Stats: Rcvd/Sent: 1/1, Min/Avg/Max: 1/1/1",
                                   "",
                                   "IP Address: fd00:61:4::2",
                                   "Destination: six.nsd.test",
                                   "Return Name: fd00:61:4::2"};
    entries[3].lines = QStringList{"1\t0\tfe80::1%c0\treached", "fe80::1%c0 reached in 1 hops."};
    QTemporaryDir dir;
    const QString path = dir.filePath("six.nsd");
    QString error;
    ASSERT_TRUE(files::SessionFile::Write(path, entries, error)) << error.toStdString();
    QList<Entry> back;
    ASSERT_EQ(files::SessionFile::Read(path, back, error), files::LoadStatus::Done)
        << error.toStdString();
    EXPECT_EQ(back, entries);
}

} // namespace

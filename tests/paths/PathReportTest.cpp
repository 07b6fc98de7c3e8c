// The report texts of a path: the table's columns line up whatever the
// lengths of names and numbers, and CSV and JSON carry any name unharmed.
#include "paths/PathReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <string>
#include <vector>

namespace {

paths::ResponderFigures responder(const char* address, const QString& name, double ms) {
    paths::ResponderFigures r;
    r.address.family = 4;
    ::inet_pton(AF_INET, address, r.address.bytes.data());
    r.name = name;
    r.sent = 10;
    r.answered = 9;
    r.rtt = {9, ms, ms / 2, ms * 10, ms, 1.25, 0.5, ms, ms};
    return r;
}

// Hop 1 named, hop 2 silent, hop 3 balanced over a name that needs quoting
// and one that a spreadsheet would run, hop 4 without a name.
paths::PathFigures figures() {
    paths::PathFigures f;
    f.target = QStringLiteral("192.0.2.99");
    f.rounds = 10;
    f.distance = 4;
    paths::HopFigures hop;
    hop.ttl = 1;
    hop.sent = 10;
    hop.silent = false;
    hop.recentLossPercent = 10;
    hop.responders = {responder("192.0.2.1", QStringLiteral("gw.example"), 1.5)};
    f.hops.push_back(hop);
    paths::HopFigures silent;
    silent.ttl = 2;
    silent.sent = 10;
    f.hops.push_back(silent);
    hop.ttl = 3;
    hop.forwardedLossPercent = 2.5;
    hop.responders = {responder("192.0.2.3", QStringLiteral("a,\"b\"\nc"), 12.25),
                      responder("192.0.2.30", QStringLiteral("=cmd|calc"), 1234.5)};
    f.hops.push_back(hop);
    hop.ttl = 4;
    hop.responders = {responder("192.0.2.99", QString(), 20)};
    f.hops.push_back(hop);
    return f;
}

// A minimal RFC 4180 reader: records of fields.
std::vector<QStringList> readCsv(const QString& text) {
    std::vector<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            record << field;
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == '\n') {
            record << field;
            field.clear();
            records.push_back(record);
            record.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return records;
}

} // namespace

// Every column starts (left-aligned host) or ends (right-aligned numbers) at
// the same place on every line; a silent hop reads "no answer"; a
// responder below the first of its hop leaves the hop's columns empty.
TEST(PathReport, TextColumnsLineUp) {
    paths::PathFigures f = figures();
    f.hops[2].responders[0].name = QStringLiteral("core.example");
    const QStringList lines = paths::ReportText(f).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1 + 1 + 5);
    EXPECT_EQ(lines[0], QStringLiteral("Path to 192.0.2.99"));
    const QString& header = lines[1];
    const qsizetype host = header.indexOf(QStringLiteral("Host"));
    const qsizetype sentEnd = header.indexOf(QStringLiteral("Sent")) + 4;
    const qsizetype lossEnd = header.indexOf(QStringLiteral("Loss %")) + 6;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QString& line = lines[i];
        SCOPED_TRACE(line.toStdString());
        EXPECT_FALSE(line.endsWith(QLatin1Char(' ')));
        EXPECT_NE(line[host], QLatin1Char(' '));
        EXPECT_EQ(line[host - 1], QLatin1Char(' '));
        if (line.size() > sentEnd) {
            EXPECT_EQ(line[sentEnd], QLatin1Char(' '));
        }
        if (i != 5) { // the second responder of hop 3
            EXPECT_TRUE(line[sentEnd - 1].isDigit());
        }
        EXPECT_EQ(line.size() == header.size(), i != 3) << "full rows are as wide as the header";
    }
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("  1  gw.example (192.0.2.1)")));
    // The silent hop: its host and sent, nothing else.
    EXPECT_TRUE(lines[3].mid(host).startsWith(QStringLiteral("no answer")));
    EXPECT_EQ(lines[3].size(), sentEnd);
    EXPECT_TRUE(lines[3].mid(lossEnd - 6, 6).trimmed().isEmpty());
    // The second responder of hop 3: no hop, loss or sent of its own.
    EXPECT_TRUE(lines[5].left(host).trimmed().isEmpty());
    EXPECT_TRUE(lines[5].mid(lossEnd - 6, sentEnd - lossEnd + 6).trimmed().isEmpty());
    EXPECT_TRUE(lines[5].contains(QStringLiteral("=cmd|calc (192.0.2.30)")));
}

// Names with commas, quotes, line breaks and a leading '=' come back from a
// CSV reader as they were (the formula defused by an apostrophe).
TEST(PathReport, CsvFieldsSurviveAnyName) {
    const std::vector<QStringList> records =
        readCsv(QString::fromUtf8(paths::ReportCsv(figures())));
    ASSERT_EQ(records.size(), 1U + 5U);
    for (const QStringList& r : records)
        EXPECT_EQ(r.size(), records[0].size());
    EXPECT_EQ(records[0][0], QStringLiteral("Hop"));
    EXPECT_EQ(records[1][1], QStringLiteral("gw.example"));
    EXPECT_EQ(records[1][2], QStringLiteral("192.0.2.1"));
    EXPECT_EQ(records[2][2], QStringLiteral("no answer"));
    EXPECT_EQ(records[3][1], QStringLiteral("a,\"b\"\nc"));
    EXPECT_EQ(records[4][1], QStringLiteral("'=cmd|calc"));
    EXPECT_EQ(records[4][0], QString());
    EXPECT_EQ(records[5][1], QString());
    EXPECT_EQ(records[5][2], QStringLiteral("192.0.2.99"));
    EXPECT_EQ(records[1][7], QStringLiteral("1.5")) << "last";
}

// The JSON parses, carries names with quotes, backslashes and control
// characters as they were, and marks the silent hop.
TEST(PathReport, JsonCarriesAnyName) {
    paths::PathFigures f = figures();
    const QString odd = QStringLiteral("q\"b\\s\x01\n");
    f.hops[0].responders[0].name = odd;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(paths::ReportJson(f), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    const QJsonArray hops = doc.object().value(QStringLiteral("hops")).toArray();
    ASSERT_EQ(hops.size(), 4);
    const QJsonObject first = hops[0].toObject();
    EXPECT_EQ(first.value(QStringLiteral("responders"))
                  .toArray()[0]
                  .toObject()
                  .value(QStringLiteral("name"))
                  .toString(),
              odd);
    EXPECT_TRUE(hops[1].toObject().value(QStringLiteral("silent")).toBool());
    EXPECT_TRUE(hops[1].toObject().value(QStringLiteral("responders")).toArray().isEmpty());
    EXPECT_EQ(hops[2].toObject().value(QStringLiteral("responders")).toArray().size(), 2);
    EXPECT_DOUBLE_EQ(hops[2].toObject().value(QStringLiteral("forwardedLossPercent")).toDouble(),
                     2.5);
    EXPECT_EQ(doc.object().value(QStringLiteral("distance")).toInt(), 4);
}

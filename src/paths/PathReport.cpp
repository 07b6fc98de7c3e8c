#include "paths/PathReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <vector>

namespace paths {

namespace {

const QString NoAnswer = QStringLiteral("no answer");

QString Ms(double ms) {
    return QString::number(ms, 'f', 1);
}

QString HostText(const ResponderFigures& r) {
    const QString address = r.address.ToString();
    return r.name.isEmpty() ? address : r.name + QStringLiteral(" (") + address + QLatin1Char(')');
}

// One row of the table: the hop's columns (empty below its first row) and
// the responder's.
struct Row {
    QString hop;
    QString host;
    QString name;
    QString address;
    QString loss;
    QString forwarded;
    QString sent;
    QString answered;
    QString last, avg, best, worst, stdev, jitter, median, p95;
};

std::vector<Row> RowsOf(const PathFigures& figures) {
    std::vector<Row> rows;
    for (const HopFigures& hop : figures.hops) {
        Row first;
        first.hop = QString::number(hop.ttl);
        first.sent = QString::number(hop.sent);
        if (hop.silent || hop.responders.empty()) {
            first.host = NoAnswer;
            rows.push_back(first);
            continue;
        }
        first.loss = QString::number(hop.recentLossPercent, 'f', 1);
        first.forwarded = QString::number(hop.forwardedLossPercent, 'f', 1);
        for (std::size_t i = 0; i < hop.responders.size(); ++i) {
            const ResponderFigures& r = hop.responders[i];
            Row row = i == 0 ? first : Row();
            row.host = HostText(r);
            row.name = r.name;
            row.address = r.address.ToString();
            row.answered = QString::number(r.answered);
            row.last = Ms(r.rtt.lastMs);
            row.avg = Ms(r.rtt.meanMs);
            row.best = Ms(r.rtt.bestMs);
            row.worst = Ms(r.rtt.worstMs);
            row.stdev = Ms(r.rtt.stdevMs);
            row.jitter = Ms(r.rtt.jitterMs);
            row.median = Ms(r.rtt.medianMs);
            row.p95 = Ms(r.rtt.p95Ms);
            rows.push_back(row);
        }
    }
    return rows;
}

QByteArray CsvField(QString text, bool isText) {
    if (isText && !text.isEmpty() && QStringLiteral("=+-@").contains(text.front()))
        text.prepend(QLatin1Char('\''));
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') ||
        bytes.contains('\r')) {
        bytes.replace("\"", "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

QJsonObject RttJson(const RttFigures& rtt, QJsonObject object) {
    object.insert(QStringLiteral("lastMs"), rtt.lastMs);
    object.insert(QStringLiteral("bestMs"), rtt.bestMs);
    object.insert(QStringLiteral("worstMs"), rtt.worstMs);
    object.insert(QStringLiteral("meanMs"), rtt.meanMs);
    object.insert(QStringLiteral("stdevMs"), rtt.stdevMs);
    object.insert(QStringLiteral("jitterMs"), rtt.jitterMs);
    object.insert(QStringLiteral("medianMs"), rtt.medianMs);
    object.insert(QStringLiteral("p95Ms"), rtt.p95Ms);
    return object;
}

} // namespace

QString ReportText(const PathFigures& figures) {
    const QStringList header{QStringLiteral("Hop"),    QStringLiteral("Host"),
                             QStringLiteral("Loss %"), QStringLiteral("Forwarded loss %"),
                             QStringLiteral("Sent"),   QStringLiteral("Last"),
                             QStringLiteral("Avg"),    QStringLiteral("Best"),
                             QStringLiteral("Worst"),  QStringLiteral("StDev"),
                             QStringLiteral("Jitter")};
    constexpr int HostColumn = 1;
    std::vector<QStringList> table{header};
    for (const Row& r : RowsOf(figures))
        table.push_back({r.hop, r.host, r.loss, r.forwarded, r.sent, r.last, r.avg, r.best, r.worst,
                         r.stdev, r.jitter});
    std::vector<qsizetype> widths(static_cast<std::size_t>(header.size()), 0);
    for (const QStringList& line : table)
        for (qsizetype c = 0; c < line.size(); ++c)
            widths[static_cast<std::size_t>(c)] =
                std::max(widths[static_cast<std::size_t>(c)], line[c].size());
    QString text = QStringLiteral("Path to ") + figures.target + QLatin1Char('\n');
    for (const QStringList& line : table) {
        QString out;
        for (qsizetype c = 0; c < line.size(); ++c) {
            const int width = static_cast<int>(widths[static_cast<std::size_t>(c)]);
            if (c > 0)
                out += QStringLiteral("  ");
            out += c == HostColumn ? line[c].leftJustified(width) : line[c].rightJustified(width);
        }
        while (out.endsWith(QLatin1Char(' ')))
            out.chop(1);
        text += out + QLatin1Char('\n');
    }
    return text;
}

QByteArray ReportCsv(const PathFigures& figures) {
    QByteArray csv = "Hop,Name,Address,Loss %,Forwarded loss %,Sent,Answered,Last,Avg,Best,"
                     "Worst,StDev,Jitter,Median,P95\r\n";
    for (const Row& r : RowsOf(figures)) {
        const QStringList numbers{r.loss, r.forwarded, r.sent,  r.answered, r.last,   r.avg,
                                  r.best, r.worst,     r.stdev, r.jitter,   r.median, r.p95};
        QByteArrayList fields{CsvField(r.hop, false), CsvField(r.name, true),
                              CsvField(r.address.isEmpty() ? r.host : r.address, true)};
        for (const QString& n : numbers)
            fields << CsvField(n, false);
        csv += fields.join(',') + "\r\n";
    }
    return csv;
}

QByteArray ReportJson(const PathFigures& figures) {
    QJsonArray hops;
    for (const HopFigures& hop : figures.hops) {
        QJsonObject h;
        h.insert(QStringLiteral("ttl"), hop.ttl);
        h.insert(QStringLiteral("sent"), static_cast<qint64>(hop.sent));
        h.insert(QStringLiteral("answered"), static_cast<qint64>(hop.answered));
        h.insert(QStringLiteral("lossPercent"), hop.recentLossPercent);
        h.insert(QStringLiteral("forwardedLossPercent"), hop.forwardedLossPercent);
        h.insert(QStringLiteral("silent"), hop.silent);
        QJsonArray responders;
        for (const ResponderFigures& r : hop.responders) {
            QJsonObject o;
            o.insert(QStringLiteral("address"), r.address.ToString());
            o.insert(QStringLiteral("name"), r.name);
            o.insert(QStringLiteral("sent"), static_cast<qint64>(r.sent));
            o.insert(QStringLiteral("answered"), static_cast<qint64>(r.answered));
            o.insert(QStringLiteral("lossPercent"), r.lossPercent);
            responders.append(RttJson(r.rtt, o));
        }
        h.insert(QStringLiteral("responders"), responders);
        hops.append(RttJson(hop.rtt, h));
    }
    QJsonObject root;
    root.insert(QStringLiteral("target"), figures.target);
    root.insert(QStringLiteral("rounds"), static_cast<qint64>(figures.rounds));
    root.insert(QStringLiteral("distance"), figures.distance);
    root.insert(QStringLiteral("flapping"), figures.flapping);
    root.insert(QStringLiteral("hops"), hops);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace paths

#include "history/HistoryQueries.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QVariant>

namespace history {

namespace {

// The number of an entry's name; 0 when it was never recorded.
qint64 EntryId(const QSqlDatabase& db, const QString& entry) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id FROM names WHERE text = ?"));
    q.addBindValue(entry);
    if (!q.exec() || !q.next())
        return 0;
    return q.value(0).toLongLong();
}

int IntOr(const QVariant& v, int fallback) {
    return v.isNull() ? fallback : v.toInt();
}

// A CSV field: quoted when it holds a separator, a quote or a line break.
QByteArray Field(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') ||
        bytes.contains('\r')) {
        bytes.replace("\"", "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

QByteArray Number(const QVariant& v) {
    return v.isNull() ? QByteArray() : QByteArray::number(v.toLongLong());
}

} // namespace

double SpanData::LossPercent() const {
    return Sent > 0 ? 100.0 * static_cast<double>(Sent - Received) / static_cast<double>(Sent)
                    : 0.0;
}

double SpanData::AvailabilityPercent() const {
    return Judged > 0 ? 100.0 * static_cast<double>(Answered) / static_cast<double>(Judged) : 0.0;
}

bool Extent(const QSqlDatabase& db, const QString& entry, qint64* first, qint64* last) {
    const qint64 id = EntryId(db, entry);
    if (id == 0)
        return false;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT min(t), max(t) FROM runs WHERE entry = ?"));
    q.addBindValue(id);
    if (!q.exec() || !q.next() || q.value(0).isNull())
        return false;
    *first = q.value(0).toLongLong();
    *last = q.value(1).toLongLong();
    return true;
}

SpanData LoadSpan(const QSqlDatabase& db, const QString& entry, qint64 from, qint64 to, int width) {
    SpanData d;
    d.From = from;
    d.To = std::max(to, from + 1);
    d.Width = std::max(width, 1);
    const qint64 id = EntryId(db, entry);
    if (id == 0)
        return d;
    const qint64 span = d.To - d.From;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // The database folds the runs into columns; only the columns come here.
    if (span <= RawSpanLimitMs) {
        q.prepare(QStringLiteral(
            "SELECT (t - :from) * :width / :span AS c, min(rtt_min), max(rtt_max), sum(sent),"
            " sum(received), count(*), sum(outcome <> 4), sum(outcome = 0)"
            " FROM runs WHERE entry = :entry AND t >= :from AND t < :to GROUP BY c ORDER BY c"));
    } else {
        // Whole minutes that begin inside the span.
        q.prepare(QStringLiteral(
            "SELECT (minute * 60000 - :from) * :width / :span AS c, min(rtt_min), max(rtt_max),"
            " sum(sent), sum(received), sum(runs), sum(judged), sum(answered)"
            " FROM minutes WHERE entry = :entry AND minute >= (:from + 59999) / 60000"
            " AND minute * 60000 < :to GROUP BY c ORDER BY c"));
    }
    q.bindValue(QStringLiteral(":from"), d.From);
    q.bindValue(QStringLiteral(":to"), d.To);
    q.bindValue(QStringLiteral(":width"), d.Width);
    q.bindValue(QStringLiteral(":span"), span);
    q.bindValue(QStringLiteral(":entry"), id);
    if (q.exec()) {
        while (q.next()) {
            Column c;
            c.Index = q.value(0).toInt();
            c.MinRtt = IntOr(q.value(1), -1);
            c.MaxRtt = IntOr(q.value(2), -1);
            c.Sent = q.value(3).toLongLong();
            c.Received = q.value(4).toLongLong();
            d.Runs += q.value(5).toLongLong();
            d.Judged += q.value(6).toLongLong();
            d.Answered += q.value(7).toLongLong();
            d.Sent += c.Sent;
            d.Received += c.Received;
            d.Columns.append(c);
        }
    }
    q.prepare(QStringLiteral("SELECT start, stop, outcome, code FROM outages WHERE entry = ?"
                             " AND start < ? AND (stop IS NULL OR stop > ?) ORDER BY start"));
    q.addBindValue(id);
    q.addBindValue(d.To);
    q.addBindValue(d.From);
    if (q.exec()) {
        while (q.next()) {
            Outage o;
            o.Start = q.value(0).toLongLong();
            o.Stop = q.value(1).isNull() ? -1 : q.value(1).toLongLong();
            o.Result = static_cast<Outcome>(q.value(2).toInt());
            o.Code = q.value(3).toInt();
            d.Outages.append(o);
        }
    }
    return d;
}

QByteArray ExportCsv(const QSqlDatabase& db, const QString& entry, qint64 from, qint64 to) {
    QByteArray csv("time_utc,entry,address,command,automatic,sent,received,min_ms,avg_ms,max_ms,"
                   "outcome,code,message,echoes\n");
    const qint64 id = EntryId(db, entry);
    if (id == 0)
        return csv;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
        "SELECT r.t, a.text, r.command, r.automatic, r.sent, r.received, r.rtt_min, r.rtt_avg,"
        " r.rtt_max, r.outcome, r.code, r.message, r.echoes FROM runs r"
        " LEFT JOIN names a ON a.id = r.address"
        " WHERE r.entry = ? AND r.t >= ? AND r.t < ? ORDER BY r.t, r.id"));
    q.addBindValue(id);
    q.addBindValue(from);
    q.addBindValue(to);
    if (!q.exec())
        return csv;
    const QByteArray entryField = Field(entry);
    while (q.next()) {
        const auto command = static_cast<Command>(q.value(2).toInt());
        QString echoes = q.value(12).toString();
        echoes.replace(QLatin1Char(','), QLatin1Char(' '));
        csv += QDateTime::fromMSecsSinceEpoch(q.value(0).toLongLong(), Qt::UTC)
                   .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"))
                   .toLatin1();
        csv += ',' + entryField + ',' + Field(q.value(1).toString()) + ',' +
               CommandName(command).toLatin1() + ',' + (q.value(3).toInt() ? "yes" : "no") + ',' +
               Number(q.value(4)) + ',' + Number(q.value(5)) + ',' + Number(q.value(6)) + ',' +
               Number(q.value(7)) + ',' + Number(q.value(8)) + ',' +
               OutcomeName(static_cast<Outcome>(q.value(9).toInt())).toLatin1() + ',' +
               Number(q.value(10)) + ',' + Field(q.value(11).toString()) + ',' + Field(echoes) +
               '\n';
    }
    return csv;
}

} // namespace history

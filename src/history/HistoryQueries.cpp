#include "history/HistoryQueries.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cmath>

namespace history {

namespace {

// The number of an entry's name; 0 when it was never recorded.
qint64 EntryId(const QSqlDatabase& db, const QString& entry) {
    // A file that could not be opened (none yet) knows no entry; a query on
    // it would only complain on standard error.
    if (!db.isOpen())
        return 0;
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

constexpr qint64 HourMs = qint64{3600} * 1000;

QByteArray UtcStamp(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"))
        .toLatin1();
}

// Adds the (round-trip time, count) rows of q to the histogram.
void AddCounts(QSqlQuery& q, QMap<int, qint64>* histogram) {
    if (!q.exec())
        return;
    while (q.next())
        (*histogram)[q.value(0).toInt()] += q.value(1).toLongLong();
}

void RawCounts(const QSqlDatabase& db, qint64 id, qint64 from, qint64 to,
               QMap<int, qint64>* histogram) {
    if (from >= to)
        return;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT rtt_avg, count(*) FROM runs WHERE entry = ? AND t >= ? AND"
                             " t < ? AND rtt_avg IS NOT NULL GROUP BY rtt_avg"));
    q.addBindValue(id);
    q.addBindValue(from);
    q.addBindValue(to);
    AddCounts(q, histogram);
}

// The round-trip figures of [from, to). A long span takes its whole hours
// from the hourly counts and only its ends from the runs; its jitter comes
// from the minute sums of the whole minutes inside it, as its graph does.
RttFigures LoadRtt(const QSqlDatabase& db, qint64 id, qint64 from, qint64 to) {
    RttFigures f;
    QMap<int, qint64> histogram;
    const qint64 firstHour = (from + HourMs - 1) / HourMs;
    const qint64 lastHour = to / HourMs;
    const bool raw = to - from <= RawSpanLimitMs || firstHour >= lastHour;
    if (raw) {
        RawCounts(db, id, from, to, &histogram);
    } else {
        RawCounts(db, id, from, firstHour * HourMs, &histogram);
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("SELECT rtt, sum(n) FROM rtt_hours WHERE entry = ? AND"
                                 " hour >= ? AND hour < ? GROUP BY rtt"));
        q.addBindValue(id);
        q.addBindValue(firstHour);
        q.addBindValue(lastHour);
        AddCounts(q, &histogram);
        RawCounts(db, id, lastHour * HourMs, to, &histogram);
    }
    for (auto it = histogram.cbegin(); it != histogram.cend(); ++it)
        f.Samples += it.value();
    if (f.Samples == 0)
        return f;
    f.Min = histogram.firstKey();
    f.Max = histogram.lastKey();
    f.Median = Percentile(histogram, 0.5);
    f.P95 = Percentile(histogram, 0.95);

    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (to - from <= RawSpanLimitMs) {
        // Each difference counts with the later run, as in the minute sums:
        // the first run in the span is taken against the one before it.
        q.prepare(QStringLiteral(
            "SELECT sum(abs(r - prev)), count(prev) FROM (SELECT t, rtt_avg AS r,"
            " lag(rtt_avg) OVER (ORDER BY t, id) AS prev FROM runs WHERE entry = :entry"
            " AND t >= coalesce((SELECT max(t) FROM runs WHERE entry = :entry AND t < :from"
            " AND rtt_avg IS NOT NULL), :from) AND t < :to AND rtt_avg IS NOT NULL)"
            " WHERE t >= :from"));
        q.bindValue(QStringLiteral(":entry"), id);
        q.bindValue(QStringLiteral(":from"), from);
        q.bindValue(QStringLiteral(":to"), to);
    } else {
        q.prepare(QStringLiteral("SELECT sum(jitter_sum), sum(jitter_n) FROM minutes"
                                 " WHERE entry = ? AND minute >= (? + 59999) / 60000"
                                 " AND minute * 60000 < ?"));
        q.addBindValue(id);
        q.addBindValue(from);
        q.addBindValue(to);
    }
    if (q.exec() && q.next() && q.value(1).toLongLong() > 0)
        f.Jitter = q.value(0).toDouble() / q.value(1).toDouble();
    return f;
}

// The state changes inside the span and the degraded periods reaching into
// it, from the state before the span to the first change after a period
// still open at its end.
void LoadStates(const QSqlDatabase& db, qint64 id, SpanData* d) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
        "SELECT t, state FROM states WHERE entry = ? AND t < ? ORDER BY t DESC, id DESC LIMIT 1"));
    q.addBindValue(id);
    q.addBindValue(d->From);
    qint64 open = -1;
    // Each start of the program sees its hosts anew: a change to the state
    // the host already had is no change.
    int previous = -1;
    if (q.exec() && q.next()) {
        previous = q.value(1).toInt();
        if (previous == static_cast<int>(states::HostState::Degraded))
            open = q.value(0).toLongLong();
    }
    q.finish();
    q.prepare(QStringLiteral(
        "SELECT t, state FROM states WHERE entry = ? AND t >= ? AND t < ? ORDER BY t, id"));
    q.addBindValue(id);
    q.addBindValue(d->From);
    q.addBindValue(d->To);
    if (q.exec()) {
        while (q.next()) {
            const int state = q.value(1).toInt();
            const bool first =
                previous < 0 || previous == static_cast<int>(states::HostState::Unknown);
            const bool same = state == previous ||
                              (first && state == static_cast<int>(states::HostState::Up)) ||
                              state == static_cast<int>(states::HostState::Unknown);
            if (state != static_cast<int>(states::HostState::Unknown))
                previous = state;
            if (same)
                continue;
            const StateMark mark{q.value(0).toLongLong(), states::FromStored(state)};
            d->States.append(mark);
            if (mark.State == states::HostState::Degraded && open < 0) {
                open = mark.TimeMs;
            } else if (mark.State != states::HostState::Degraded && open >= 0) {
                d->Degraded.append({open, mark.TimeMs});
                open = -1;
            }
        }
    }
    q.finish();
    if (open < 0)
        return;
    Period last{open, -1};
    q.prepare(QStringLiteral("SELECT t FROM states WHERE entry = ? AND t >= ? AND state <> ?"
                             " ORDER BY t, id LIMIT 1"));
    q.addBindValue(id);
    q.addBindValue(d->To);
    q.addBindValue(static_cast<int>(states::HostState::Degraded));
    if (q.exec() && q.next())
        last.Stop = q.value(0).toLongLong();
    d->Degraded.append(last);
}

QByteArray Decimal(double value) {
    return value < 0 ? QByteArray() : QByteArray::number(value, 'f', 2);
}

QByteArray Millis(int value) {
    return value < 0 ? QByteArray() : QByteArray::number(value);
}

} // namespace

QSqlDatabase ReaderConnection(const QString& connection, const QString& path, int busyTimeoutMs) {
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    if (db.isValid() && db.isOpen())
        return db;
    if (!db.isValid()) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(
            QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
    }
    db.open();
    return db;
}

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
    q.finish();
    d.Rtt = LoadRtt(db, id, d.From, d.To);
    LoadStates(db, id, &d);
    return d;
}

int Percentile(const QMap<int, qint64>& histogram, double p) {
    qint64 total = 0;
    for (auto it = histogram.cbegin(); it != histogram.cend(); ++it)
        total += it.value();
    if (total == 0)
        return -1;
    const qint64 rank = std::clamp<qint64>(
        static_cast<qint64>(std::ceil(p * static_cast<double>(total))), 1, total);
    qint64 seen = 0;
    for (auto it = histogram.cbegin(); it != histogram.cend(); ++it) {
        seen += it.value();
        if (seen >= rank)
            return it.key();
    }
    return histogram.lastKey();
}

qint64 TimeIn(const QVector<Period>& periods, qint64 from, qint64 to, qint64 now) {
    qint64 total = 0;
    for (const Period& p : periods) {
        const qint64 stop = std::min(p.Stop < 0 ? std::max(now, p.Start) : p.Stop, to);
        const qint64 start = std::max(p.Start, from);
        total += std::max<qint64>(0, stop - start);
    }
    return total;
}

QByteArray SummaryCsvHeader() {
    return "from_utc,to_utc,entry,runs,sent,received,loss_percent,availability_percent,min_ms,"
           "median_ms,p95_ms,max_ms,jitter_ms,outages,down_s,degraded_periods,degraded_s\n";
}

QByteArray SummaryCsvRow(const QString& entry, const SpanData& data, qint64 now) {
    QVector<Period> down;
    for (const Outage& o : data.Outages)
        down.append({o.Start, o.Stop});
    const auto seconds = [](qint64 ms) { return QByteArray::number(ms / 1000); };
    const bool judged = data.Judged > 0;
    return UtcStamp(data.From) + ',' + UtcStamp(data.To) + ',' + Field(entry) + ',' +
           QByteArray::number(data.Runs) + ',' + QByteArray::number(data.Sent) + ',' +
           QByteArray::number(data.Received) + ',' +
           (data.Sent > 0 ? Decimal(data.LossPercent()) : QByteArray()) + ',' +
           (judged ? Decimal(data.AvailabilityPercent()) : QByteArray()) + ',' +
           Millis(data.Rtt.Min) + ',' + Millis(data.Rtt.Median) + ',' + Millis(data.Rtt.P95) + ',' +
           Millis(data.Rtt.Max) + ',' + Decimal(data.Rtt.Jitter) + ',' +
           QByteArray::number(data.Outages.size()) + ',' +
           seconds(TimeIn(down, data.From, data.To, now)) + ',' +
           QByteArray::number(data.Degraded.size()) + ',' +
           seconds(TimeIn(data.Degraded, data.From, data.To, now)) + '\n';
}

QByteArray ExportAllCsv(const QSqlDatabase& db, qint64 from, qint64 to) {
    QByteArray csv = SummaryCsvHeader();
    if (!db.isOpen())
        return csv;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT n.text FROM names n WHERE EXISTS (SELECT 1 FROM runs r"
                             " WHERE r.entry = n.id AND r.t >= ? AND r.t < ?) ORDER BY n.text"));
    q.addBindValue(from);
    q.addBindValue(to);
    if (!q.exec())
        return csv;
    QStringList entries;
    while (q.next())
        entries << q.value(0).toString();
    q.finish();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const QString& entry : entries)
        csv += SummaryCsvRow(entry, LoadSpan(db, entry, from, to, 1), now);
    return csv;
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
    q.finish();
    csv +=
        '\n' + SummaryCsvHeader() +
        SummaryCsvRow(entry, LoadSpan(db, entry, from, to, 1), QDateTime::currentMSecsSinceEpoch());
    return csv;
}

} // namespace history

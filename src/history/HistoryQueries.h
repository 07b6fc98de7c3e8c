#pragma once

#include "history/RunRecord.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

namespace history {

// One pixel column of the graph: the runs that fell into it, summed up.
struct Column {
    int Index = 0;
    int MinRtt = -1; // -1: nothing answered in this column
    int MaxRtt = -1;
    qint64 Sent = 0;
    qint64 Received = 0;
};

// A time the host stopped answering; Stop is -1 while it still does not.
struct Outage {
    qint64 Start = 0;
    qint64 Stop = -1;
    Outcome Result = Outcome::Error;
    int Code = 0;
};

// What the history window shows for one entry over one span.
struct SpanData {
    qint64 From = 0; // UTC milliseconds, the span is [From, To)
    qint64 To = 0;
    int Width = 0;           // columns
    QVector<Column> Columns; // only columns with runs, in order
    qint64 Runs = 0;
    qint64 Judged = 0; // runs that were not cancelled
    qint64 Answered = 0;
    qint64 Sent = 0;
    qint64 Received = 0;
    QVector<Outage> Outages;
    bool Empty() const { return Runs == 0; }
    // Lost echoes among the sent ones, in percent; 0 without echoes.
    double LossPercent() const;
    // Answered runs among the judged ones, in percent; 0 without runs.
    double AvailabilityPercent() const;
};

// Spans longer than this are read from the per-minute sums.
constexpr qint64 RawSpanLimitMs = qint64{24} * 3600 * 1000 + 60000;

// First and last run time of an entry; false when it has none.
bool Extent(const QSqlDatabase& db, const QString& entry, qint64* first, qint64* last);
// The runs of entry in [from, to), folded into width columns.
SpanData LoadSpan(const QSqlDatabase& db, const QString& entry, qint64 from, qint64 to, int width);
// The runs of entry in [from, to) as CSV, one line per run, oldest first.
QByteArray ExportCsv(const QSqlDatabase& db, const QString& entry, qint64 from, qint64 to);

} // namespace history

#pragma once

#include "history/RunRecord.h"

#include <QByteArray>
#include <QMap>
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

// A stretch of time [Start, Stop); Stop is -1 while it goes on.
struct Period {
    qint64 Start = 0;
    qint64 Stop = -1;
};

// A change of the host's state, as the watch saw it.
struct StateMark {
    qint64 TimeMs = 0;
    states::HostState State = states::HostState::Unknown;
};

// The round-trip times of a span's answering runs (each run's average
// over its echoes): how many, the median and 95th percentile (nearest
// rank), and the jitter, the mean absolute difference between consecutive
// ones; -1 where there are none.
struct RttFigures {
    qint64 Samples = 0;
    int Min = -1;
    int Median = -1;
    int P95 = -1;
    int Max = -1;
    double Jitter = -1;
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
    RttFigures Rtt;
    // The state changes inside the span, and the times the host was
    // degraded that reach into it.
    QVector<StateMark> States;
    QVector<Period> Degraded;
    bool Empty() const { return Runs == 0; }
    // Lost echoes among the sent ones, in percent; 0 without echoes.
    double LossPercent() const;
    // Answered runs among the judged ones, in percent; 0 without runs.
    double AvailabilityPercent() const;
};

// Spans longer than this are read from the per-minute sums.
constexpr qint64 RawSpanLimitMs = qint64{24} * 3600 * 1000 + 60000;

// A reader's read-only connection to the history file at path, named
// connection: added and opened on the calling thread at first use (a
// worker's own thread, as a rule), the same connection afterwards. A read
// that finds the file locked waits up to busyTimeoutMs inside SQLite.
QSqlDatabase ReaderConnection(const QString& connection, const QString& path, int busyTimeoutMs);

// First and last run time of an entry; false when it has none.
bool Extent(const QSqlDatabase& db, const QString& entry, qint64* first, qint64* last);
// The runs of entry in [from, to), folded into width columns.
SpanData LoadSpan(const QSqlDatabase& db, const QString& entry, qint64 from, qint64 to, int width);
// The runs of entry in [from, to) as CSV, one line per run, oldest first;
// after an empty line follows the entry's summary over the span: the
// SummaryCsvHeader and one SummaryCsvRow.
QByteArray ExportCsv(const QSqlDatabase& db, const QString& entry, qint64 from, qint64 to);

// The summary of every entry with runs in [from, to) as CSV: the header
// and one row per entry, in the order of their names.
QByteArray ExportAllCsv(const QSqlDatabase& db, qint64 from, qint64 to);

// The columns of a summary: span, entry, runs, echoes, loss, availability,
// round-trip figures, and the time spent down and degraded.
QByteArray SummaryCsvHeader();
QByteArray SummaryCsvRow(const QString& entry, const SpanData& data, qint64 now);

// The time of a span inside periods, Stop -1 counting up to now.
qint64 TimeIn(const QVector<Period>& periods, qint64 from, qint64 to, qint64 now);

// The sample of nearest rank for the fraction p (0 < p <= 1) of a
// histogram of round-trip times (value: count); -1 when it is empty.
int Percentile(const QMap<int, qint64>& histogram, double p);

} // namespace history

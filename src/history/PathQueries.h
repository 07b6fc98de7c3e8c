#pragma once

#include "paths/MinuteSummary.h"
#include "paths/PathWatch.h"
#include "paths/RouteTracker.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <vector>

namespace history {

// The minutes of a path added up, hop by hop and responder by responder,
// and the figures they make, in the form the path engine shows its own
// (paths::PathFigures), so that one model can show live and stored figures.
//
// From the stored sums: sent, answered, loss and forwarded loss in percent
// (recentLossPercent is the loss over the whole span too), the mean, the
// standard deviation, the jitter, and the median and 95th percentile as the
// upper bound of the histogram bucket that holds them (HistogramPercentile).
// The store keeps no last, best or worst round trip: those stay 0, as do
// the responders' names. Hops are every TTL with a record, in order; the
// distance is the lowest TTL at which the target answered (0 if it never
// did); rounds are the most requests any hop had.
class PathTotals {
public:
    void Add(const QList<paths::MinuteSummary>& records);
    paths::PathFigures Figures(const QString& target) const;
    bool Empty() const { return FHops.empty(); }

private:
    struct Sums {
        paths::Address responder;
        std::uint64_t sent = 0;
        std::uint64_t answered = 0;
        std::uint64_t forwardedLost = 0;
        double rttSumMs = 0;
        double rttSquaresMs = 0;
        double diffSumMs = 0;
        std::uint64_t diffCount = 0;
        std::array<std::uint64_t, paths::MinuteSummary::Buckets> histogram{};
    };
    struct Hop {
        int ttl = 0;
        Sums own;
        std::vector<Sums> responders; // in the order they first answered
    };
    static paths::RttFigures Rtt(const Sums& s);
    std::vector<Hop> FHops; // by TTL
};

// What the history keeps of one entry's path over one span.
struct PathSpan {
    qint64 from = 0; // UTC milliseconds, the span is [from, to)
    qint64 to = 0;
    // The entry's targets with minutes in the span, the latest first; an
    // entry whose name moved to another address has more than one.
    QStringList targets;
    // The figures of the chosen target over the minutes that begin in the
    // span (figures.target is empty when there are none).
    paths::PathFigures figures;
    qint64 minutes = 0;
    // That target's route changes in the span, oldest first.
    QVector<paths::RouteChange> changes;
    bool Empty() const { return minutes == 0; }
};

// The entries with path minutes, in the order of their texts.
QStringList PathEntries(const QSqlDatabase& db);
// The path of entry over [from, to): of target when given, else of the
// latest target in the span.
PathSpan LoadPathSpan(const QSqlDatabase& db, const QString& entry, qint64 from, qint64 to,
                      const QString& target = QString());

} // namespace history

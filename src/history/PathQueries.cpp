#include "history/PathQueries.h"

#include "history/PathRecords.h"

#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <limits>

namespace history {

namespace {

constexpr qint64 MinuteMs = 60000;
constexpr double Percent = 100.0;
constexpr double Median = 50;
constexpr double P95 = 95;

double PercentOf(std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? 0 : Percent * static_cast<double>(part) / static_cast<double>(whole);
}

qint64 NameId(const QSqlDatabase& db, const QString& text) {
    // A file that could not be opened knows no name.
    if (!db.isOpen())
        return 0;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id FROM names WHERE text = ?"));
    q.addBindValue(text);
    if (!q.exec() || !q.next())
        return 0;
    return q.value(0).toLongLong();
}

// A target's address as the responders' addresses are written (a zone
// left out).
QString AddressPart(const QString& target) {
    const qsizetype percent = target.indexOf(QLatin1Char('%'));
    return percent < 0 ? target : target.left(percent);
}

} // namespace

void PathTotals::Add(const QList<paths::MinuteSummary>& records) {
    for (const paths::MinuteSummary& r : records) {
        auto hop = std::lower_bound(FHops.begin(), FHops.end(), r.ttl,
                                    [](const Hop& h, int ttl) { return h.ttl < ttl; });
        if (hop == FHops.end() || hop->ttl != r.ttl) {
            hop = FHops.insert(hop, Hop{});
            hop->ttl = r.ttl;
        }
        Sums* to = &hop->own;
        if (!r.responder.IsNull()) {
            auto known = std::find_if(hop->responders.begin(), hop->responders.end(),
                                      [&](const Sums& s) { return s.responder == r.responder; });
            if (known == hop->responders.end()) {
                hop->responders.push_back({});
                known = std::prev(hop->responders.end());
                known->responder = r.responder;
            }
            to = &*known;
        }
        to->sent += r.sent;
        to->answered += r.answered;
        to->forwardedLost += r.forwardedLost;
        to->rttSumMs += r.rttSumMs;
        to->rttSquaresMs += r.rttSquaresMs;
        to->diffSumMs += r.diffSumMs;
        to->diffCount += r.diffCount;
        for (std::size_t i = 0; i < to->histogram.size(); ++i)
            to->histogram[i] += r.histogram[i];
    }
}

paths::RttFigures PathTotals::Rtt(const Sums& s) {
    paths::RttFigures f;
    f.answers = s.answered;
    if (s.answered == 0)
        return f;
    const auto n = static_cast<double>(s.answered);
    f.meanMs = s.rttSumMs / n;
    f.stdevMs = std::sqrt(std::max(0.0, s.rttSquaresMs / n - f.meanMs * f.meanMs));
    if (s.diffCount > 0)
        f.jitterMs = s.diffSumMs / static_cast<double>(s.diffCount);
    std::array<std::uint32_t, paths::MinuteSummary::Buckets> histogram{};
    for (std::size_t i = 0; i < histogram.size(); ++i)
        histogram[i] = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(s.histogram[i], std::numeric_limits<std::uint32_t>::max()));
    f.medianMs = paths::HistogramPercentile(histogram, Median);
    f.p95Ms = paths::HistogramPercentile(histogram, P95);
    return f;
}

paths::PathFigures PathTotals::Figures(const QString& target) const {
    paths::PathFigures f;
    f.target = target;
    const QString targetAddress = AddressPart(target);
    for (const Hop& hop : FHops) {
        paths::HopFigures h;
        h.ttl = hop.ttl;
        h.sent = hop.own.sent;
        h.answered = hop.own.answered;
        h.lossPercent =
            PercentOf(hop.own.sent - std::min(hop.own.answered, hop.own.sent), hop.own.sent);
        h.recentLossPercent = h.lossPercent;
        h.forwardedLossPercent = PercentOf(hop.own.forwardedLost, hop.own.sent);
        h.silent = hop.own.answered == 0;
        h.rtt = Rtt(hop.own);
        for (const Sums& r : hop.responders) {
            paths::ResponderFigures rf;
            rf.address = r.responder;
            rf.sent = r.sent;
            rf.answered = r.answered;
            rf.lossPercent = PercentOf(r.sent - std::min(r.answered, r.sent), r.sent);
            rf.rtt = Rtt(r);
            if (f.distance == 0 && r.answered > 0 && r.responder.ToString() == targetAddress)
                f.distance = hop.ttl;
            h.responders.push_back(std::move(rf));
        }
        f.rounds = std::max<std::uint64_t>(f.rounds, hop.own.sent);
        f.hops.push_back(std::move(h));
    }
    return f;
}

QStringList PathEntries(const QSqlDatabase& db) {
    QStringList entries;
    if (!db.isOpen())
        return entries;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT n.text FROM names n WHERE EXISTS (SELECT 1 FROM"
                               " path_minutes m WHERE m.entry = n.id) ORDER BY n.text")))
        return entries;
    while (q.next())
        entries << q.value(0).toString();
    return entries;
}

PathSpan LoadPathSpan(const QSqlDatabase& db, const QString& entry, qint64 from, qint64 to,
                      const QString& target) {
    PathSpan span;
    span.from = from;
    span.to = std::max(to, from + 1);
    const qint64 id = NameId(db, entry);
    if (id == 0)
        return span;
    // Whole minutes that begin inside the span.
    const qint64 firstMinute = from >= 0 ? (from + MinuteMs - 1) / MinuteMs : from / MinuteMs;
    const qint64 endMs = span.to;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
        "SELECT n.text, max(m.minute) AS latest FROM path_minutes m JOIN names n ON n.id ="
        " m.target WHERE m.entry = ? AND m.minute >= ? AND m.minute * 60000 < ?"
        " GROUP BY m.target ORDER BY latest DESC, n.text"));
    q.addBindValue(id);
    q.addBindValue(firstMinute);
    q.addBindValue(endMs);
    if (q.exec())
        while (q.next())
            span.targets << q.value(0).toString();
    q.finish();
    const QString chosen = target.isEmpty() ? span.targets.value(0) : target;
    const qint64 targetId = chosen.isEmpty() ? 0 : NameId(db, chosen);
    if (targetId == 0)
        return span;

    PathTotals totals;
    q.prepare(QStringLiteral("SELECT minute, hops FROM path_minutes WHERE entry = ? AND"
                             " minute >= ? AND minute * 60000 < ? AND target = ?"));
    q.addBindValue(id);
    q.addBindValue(firstMinute);
    q.addBindValue(endMs);
    q.addBindValue(targetId);
    if (q.exec()) {
        while (q.next()) {
            totals.Add(UnpackMinute(q.value(1).toByteArray(), q.value(0).toLongLong() * MinuteMs));
            ++span.minutes;
        }
    }
    q.finish();
    if (span.minutes > 0)
        span.figures = totals.Figures(chosen);

    // The flapping state at the span's end is that of the last change
    // before it.
    q.prepare(QStringLiteral("SELECT kind FROM path_routes WHERE entry = ? AND target = ? AND"
                             " t < ? ORDER BY t DESC, id DESC LIMIT 1"));
    q.addBindValue(id);
    q.addBindValue(targetId);
    q.addBindValue(endMs);
    if (q.exec() && q.next())
        span.figures.flapping =
            q.value(0).toInt() == static_cast<int>(paths::RouteChange::Kind::FlappingBegan);
    q.finish();
    q.prepare(QStringLiteral("SELECT t, kind, before, after FROM path_routes WHERE entry = ? AND"
                             " target = ? AND t >= ? AND t < ? ORDER BY t, id"));
    q.addBindValue(id);
    q.addBindValue(targetId);
    q.addBindValue(from);
    q.addBindValue(endMs);
    if (q.exec()) {
        while (q.next()) {
            paths::RouteChange c;
            c.timeMs = q.value(0).toLongLong();
            c.kind = static_cast<paths::RouteChange::Kind>(std::clamp(
                q.value(1).toInt(), 0, static_cast<int>(paths::RouteChange::Kind::FlappingEnded)));
            c.before = UnpackRoute(q.value(2).toByteArray());
            c.after = UnpackRoute(q.value(3).toByteArray());
            span.changes.append(std::move(c));
        }
    }
    return span;
}

} // namespace history

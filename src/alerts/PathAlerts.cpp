#include "alerts/PathAlerts.h"

#include <QDateTime>

namespace alerts {

namespace {

QString Clock(qint64 ms, const char* format) {
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(QString::fromLatin1(format));
}

QString Percent(double value) {
    return QString::number(value, 'f', value < 10 ? 1 : 0) + QStringLiteral(" %");
}

// "hop 3: 10.0.3.1 → 10.0.13.1" for every TTL whose responder differs.
QString Differences(const PathEvent& e) {
    QStringList lines;
    const qsizetype n = std::max(e.Before.size(), e.After.size());
    const QString none = QStringLiteral("*");
    for (qsizetype i = 0; i < n; ++i) {
        const QString& was = i < e.Before.size() ? e.Before[i] : none;
        const QString& is = i < e.After.size() ? e.After[i] : none;
        if (was != is)
            lines << QStringLiteral("hop %1: %2 \u2192 %3").arg(i + 1).arg(was, is);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

PathAlerts::PathAlerts(const Limits& limits) : FLimits(limits) {}

void PathAlerts::SetLimits(const Limits& limits) {
    FLimits = limits;
}

std::optional<PathEvent> PathAlerts::Round(const QString& entry, const QVector<PathHop>& hops,
                                           qint64 timeMs) {
    Path& p = FPaths[entry];
    const PathHop* first = nullptr;
    for (const PathHop& hop : hops)
        if (hop.ForwardedLossPercent > FLimits.LossPercent) {
            first = &hop;
            break;
        }
    const int toBegin = std::max(1, FLimits.FailuresToDown);
    const int toEnd = std::max(1, FLimits.AnswersToUp);
    if (first) {
        p.underRounds = 0;
        if (p.loss)
            return std::nullopt;
        if (p.overRounds++ == 0) {
            PathEvent e;
            e.What = PathEvent::Kind::LossBegan;
            e.Entry = entry;
            e.Ttl = first->Ttl;
            e.Responder = first->Responder;
            e.SinceMs = timeMs;
            p.candidate = e;
        }
        if (p.overRounds < toBegin)
            return std::nullopt;
        // The hop where it stands now; the time when it began.
        PathEvent e = *p.candidate;
        e.Ttl = first->Ttl;
        e.Responder = first->Responder;
        e.LossPercent = first->ForwardedLossPercent;
        e.TimeMs = timeMs;
        p.loss = e;
        p.candidate.reset();
        return e;
    }
    p.overRounds = 0;
    p.candidate.reset();
    if (!p.loss || ++p.underRounds < toEnd)
        return std::nullopt;
    PathEvent e = *p.loss;
    e.What = PathEvent::Kind::LossEnded;
    e.TimeMs = timeMs;
    p.loss.reset();
    p.underRounds = 0;
    return e;
}

bool PathAlerts::Losing() const {
    for (const Path& p : FPaths)
        if (p.loss)
            return true;
    return false;
}

void PathAlerts::Forget(const QString& entry) {
    FPaths.remove(entry);
}

Notice PathNotice(const PathEvent& e) {
    Notice n;
    const QString from = QStringLiteral("loss from hop %1").arg(e.Ttl);
    const QString where = e.Responder.isEmpty() ? QString() : QStringLiteral(", ") + e.Responder;
    switch (e.What) {
    case PathEvent::Kind::LossBegan:
        n.Summary = e.Entry + QStringLiteral(": ") + from;
        n.Body = from + where + QStringLiteral(", since ") + Clock(e.SinceMs, "HH:mm") +
                 QStringLiteral(" (") + Percent(e.LossPercent) + QStringLiteral(" forwarded)");
        n.Sound = AlertDegraded;
        break;
    case PathEvent::Kind::LossEnded:
        n.Summary = e.Entry + QStringLiteral(": ") + from + QStringLiteral(" ended");
        n.Body = from + where + QStringLiteral(", from ") + Clock(e.SinceMs, "HH:mm") +
                 QStringLiteral(" to ") + Clock(e.TimeMs, "HH:mm") + QStringLiteral(", ") +
                 Duration(e.TimeMs - e.SinceMs);
        n.Sound = AlertUp;
        break;
    case PathEvent::Kind::RouteChanged:
        n.Summary = e.Entry + QStringLiteral(": route changed");
        n.Body = QStringLiteral("at ") + Clock(e.TimeMs, "HH:mm:ss") + QLatin1Char('\n') +
                 Differences(e);
        n.Sound = AlertDegraded;
        break;
    case PathEvent::Kind::Flapping:
        n.Summary = e.Entry + QStringLiteral(": route flapping");
        n.Body = QStringLiteral("since ") + Clock(e.TimeMs, "HH:mm:ss") +
                 QStringLiteral(", between two routes\n") + Differences(e);
        n.Sound = AlertDegraded;
        break;
    }
    return n;
}

} // namespace alerts

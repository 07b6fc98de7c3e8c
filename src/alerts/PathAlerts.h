#pragma once

#include "alerts/HostStates.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

namespace alerts {

// One hop of a watched path at the end of a round, as the alerts judge it:
// its TTL, the node that answers there (empty when none does) and the share
// of the recent rounds whose loss at this hop the rest of the path shared.
// A router that only limits its own answers loses nothing the path shares,
// so its loss never counts here.
struct PathHop {
    int Ttl = 0;
    QString Responder;
    double ForwardedLossPercent = 0;
};

// Something a watched path did that is worth a notice.
struct PathEvent {
    enum class Kind { LossBegan, LossEnded, RouteChanged, Flapping };
    Kind What = Kind::LossBegan;
    QString Entry;
    qint64 TimeMs = 0;
    // LossBegan, LossEnded: the first hop from which the path loses, and
    // since when; its forwarded loss when it began.
    int Ttl = 0;
    QString Responder;
    qint64 SinceMs = 0;
    double LossPercent = 0;
    // RouteChanged, Flapping: the responders per TTL before and after
    // ("*" where a hop never answered).
    QStringList Before;
    QStringList After;
};

// The watch over paths: forwarded loss from a hop begins once the first hop
// whose forwarded loss is over the loss threshold (Limits::LossPercent) has
// been so for FailuresToDown rounds in a row, and ends once no hop has been
// over it for AnswersToUp rounds in a row, the same hysteresis as a host's
// down and up. Route changes are decided by the path engine and only
// passed on. Each path is judged on its own; a path that is no longer
// watched is forgotten.
class PathAlerts {
public:
    explicit PathAlerts(const Limits& limits = {});
    void SetLimits(const Limits& limits);

    // A round of entry's path has ended at timeMs with these hops (TTL
    // order). Returns the beginning or the end of loss, if this round made
    // one.
    std::optional<PathEvent> Round(const QString& entry, const QVector<PathHop>& hops,
                                   qint64 timeMs);
    // Whether some watched path is losing from a hop now.
    bool Losing() const;
    void Forget(const QString& entry);

private:
    struct Path {
        int overRounds = 0;  // rounds in a row with a hop over the threshold
        int underRounds = 0; // rounds in a row without
        std::optional<PathEvent> loss;
        std::optional<PathEvent> candidate; // the first over-threshold round's hop
    };
    Limits FLimits;
    QHash<QString, Path> FPaths;
};

// The notice of one event of a watched path: "far: loss from hop 4",
// "loss from hop 4, 10.0.3.1, since 14:02".
Notice PathNotice(const PathEvent& event);

} // namespace alerts

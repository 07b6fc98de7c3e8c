#include "alerts/HostStates.h"

#include <QDateTime>
#include <QSet>
#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace alerts {

namespace {

template <typename Container> int Median(Container values) {
    std::sort(values.begin(), values.end());
    const auto n = values.size();
    if (n == 0)
        return 0;
    if (n % 2 == 1)
        return values[n / 2];
    return (values[n / 2 - 1] + values[n / 2]) / 2;
}

QString ClockTime(qint64 ms, const QString& format) {
    // The changes of a round mostly fall into the same second, and turning
    // a time into local time is costly: the last text is kept, per thread.
    struct Last {
        qint64 second = std::numeric_limits<qint64>::min();
        QString format;
        QString text;
    };
    thread_local Last last;
    const qint64 second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (second != last.second || format != last.format) {
        last.text = QDateTime::fromMSecsSinceEpoch(second * 1000).toLocalTime().toString(format);
        last.second = second;
        last.format = format;
    }
    return last.text;
}

int Rank(HostState s) {
    switch (s) {
    case HostState::Down:
        return 3;
    case HostState::Degraded:
        return 2;
    case HostState::Up:
        return 1;
    case HostState::Unknown:
        break;
    }
    return 0;
}

Limits Sane(Limits l) {
    l.FailuresToDown = std::max(1, l.FailuresToDown);
    l.AnswersToUp = std::max(1, l.AnswersToUp);
    l.RttLimitMs = std::max(0, l.RttLimitMs);
    // A multiple of 1 or less would call half the runs slow.
    if (l.BaselineFactor < 2)
        l.BaselineFactor = 0;
    l.LossWindow = std::max(1, l.LossWindow);
    l.LossPercent = std::clamp(l.LossPercent, 0, 100);
    return l;
}

} // namespace

THostStates::THostStates(const Limits& limits) : FLimits(Sane(limits)) {}

void THostStates::SetLimits(const Limits& limits) {
    FLimits = Sane(limits);
    for (Host& h : FHosts)
        TrimLoss(h);
}

void THostStates::TrimLoss(Host& h) const {
    while (h.Lost.size() > static_cast<std::size_t>(FLimits.LossWindow))
        h.Lost.pop_front();
}

THostStates::Verdict THostStates::Judge(const Host& h, int rtt) const {
    if (FLimits.RttLimitMs > 0 && rtt > FLimits.RttLimitMs)
        return {Reason::Slow, rtt, FLimits.RttLimitMs};
    if (FLimits.BaselineFactor > 0 && h.Baseline.size() >= BaselineMinRuns) {
        const int base = std::max(Median(h.Baseline), BaselineFloorMs);
        const qint64 limit = qint64(base) * FLimits.BaselineFactor;
        if (rtt > limit)
            return {Reason::Slow, rtt, static_cast<int>(std::min<qint64>(limit, INT_MAX))};
    }
    const auto window = h.Lost.size();
    if (FLimits.LossPercent > 0 && window >= static_cast<std::size_t>(FLimits.LossWindow)) {
        const auto lost = static_cast<qint64>(std::count(h.Lost.begin(), h.Lost.end(), true));
        if (lost * 100 > qint64(FLimits.LossPercent) * qint64(window))
            return {Reason::Lossy,
                    static_cast<int>((lost * 100 + qint64(window) / 2) / qint64(window)),
                    FLimits.LossPercent};
    }
    return {};
}

int THostStates::FailuresToDown(qint64 lost, qint64 window, bool full) const {
    const int least = FLimits.FailuresToDown;
    if (FLimits.LossPercent == 0 || !full || lost <= 0)
        return least;
    const int most = std::max(least, FLimits.LossWindow);
    if (lost >= window)
        return most;
    // The shortest run of k failures with p^k <= 1 / OutageOdds.
    const double p = double(lost) / double(window);
    const double k = std::ceil(std::log(1.0 / OutageOdds) / std::log(p));
    return std::clamp(static_cast<int>(k), least, most);
}

std::optional<Change> THostStates::Feed(const QString& host, const Run& run) {
    Host& h = FHosts[host];
    const HostState was = h.Now.State;
    QVector<int> answered;
    for (int rtt : run.Echoes)
        if (rtt >= 0)
            answered.append(rtt);
    // A down host's lost echoes belong to its outage, not to the loss it
    // has once it answers again; its answers start the window afresh.
    if (was != HostState::Down || !answered.isEmpty()) {
        for (int rtt : run.Echoes)
            h.Lost.push_back(rtt < 0);
        TrimLoss(h);
    }

    Change change;
    change.Host = host;
    change.From = was;
    change.TimeMs = run.TimeMs;

    if (answered.isEmpty()) {
        if (h.Failures == 0) {
            h.FirstFailureMs = run.TimeMs;
            h.StreakLost = 0;
        }
        ++h.Failures;
        h.StreakLost += static_cast<int>(run.Echoes.size());
        h.Answers = 0;
        h.Good = 0;
        if (was == HostState::Down)
            return std::nullopt;
        // The window as it was before these failures.
        const auto streak = std::min<qint64>(h.StreakLost, qint64(h.Lost.size()));
        const auto before = qint64(h.Lost.size()) - streak;
        const auto lostBefore =
            static_cast<qint64>(std::count(h.Lost.begin(), h.Lost.end(), true)) - streak;
        const bool full = h.Lost.size() >= static_cast<std::size_t>(FLimits.LossWindow);
        if (h.Failures < FailuresToDown(lostBefore, before, full))
            return std::nullopt;
        // An outage is reported as down, not as loss: the window starts
        // afresh when the host answers again.
        h.Lost.clear();
        h.Poor = 0;
        h.Now.State = HostState::Down;
        h.Now.SinceMs = h.FirstFailureMs;
        change.To = HostState::Down;
        change.LastAnswerMs = h.Now.LastAnswerMs;
        return change;
    }

    h.Failures = 0;
    h.FirstFailureMs = -1;
    ++h.Answers;
    h.Now.LastAnswerMs = run.TimeMs;
    const int rtt = Median(answered);
    // The run is judged against the baseline of the runs before it.
    const Verdict verdict = Judge(h, rtt);
    h.Baseline.push_back(rtt);
    while (h.Baseline.size() > static_cast<std::size_t>(BaselineRuns))
        h.Baseline.pop_front();
    if (verdict.Why == Reason::None) {
        ++h.Good;
        h.Poor = 0;
    } else {
        ++h.Poor;
        h.Good = 0;
    }

    const HostState judged = verdict.Why == Reason::None ? HostState::Up : HostState::Degraded;
    HostState next = was;
    switch (was) {
    case HostState::Unknown:
        next = judged;
        break;
    case HostState::Down:
        if (h.Answers >= FLimits.AnswersToUp)
            next = judged;
        break;
    case HostState::Up:
        if (h.Poor >= FLimits.AnswersToUp)
            next = HostState::Degraded;
        break;
    case HostState::Degraded:
        if (h.Good >= FLimits.AnswersToUp)
            next = HostState::Up;
        break;
    }
    if (next == was)
        return std::nullopt;
    h.Now.State = next;
    h.Now.SinceMs = run.TimeMs;
    change.To = next;
    change.LastAnswerMs = run.TimeMs;
    change.Why = verdict.Why;
    change.Value = verdict.Value;
    change.Limit = verdict.Limit;
    return change;
}

Status THostStates::StatusOf(const QString& host) const {
    const auto it = FHosts.constFind(host);
    return it == FHosts.cend() ? Status{} : it->Now;
}

HostState THostStates::Worst() const {
    HostState worst = HostState::Unknown;
    for (const Host& h : FHosts)
        if (Rank(h.Now.State) > Rank(worst))
            worst = h.Now.State;
    return worst;
}

void THostStates::Retain(const QStringList& hosts) {
    // A set: a list of many thousand hosts must not cost a scan per host.
    const QSet<QString> kept(hosts.cbegin(), hosts.cend());
    for (auto it = FHosts.begin(); it != FHosts.end();) {
        if (kept.contains(it.key()))
            ++it;
        else
            it = FHosts.erase(it);
    }
}

namespace {

// The words after the host's name: a headline and the details.
struct Words {
    QString Headline;
    QString Details;
};

QString ReasonText(const Change& c) {
    switch (c.Why) {
    case Reason::Slow:
        return QStringLiteral("round trip %1 ms, over %2 ms").arg(c.Value).arg(c.Limit);
    case Reason::Lossy:
        return QStringLiteral("%1 % of its echoes lost, over %2 %").arg(c.Value).arg(c.Limit);
    case Reason::None:
        break;
    }
    return {};
}

Words WordsOf(const Change& c) {
    const QString at = QStringLiteral("at ") + ClockTime(c.TimeMs, QStringLiteral("HH:mm:ss"));
    switch (c.To) {
    case HostState::Down:
        if (c.LastAnswerMs < 0)
            return {QStringLiteral("down"), at + QStringLiteral(", no answer yet")};
        return {QStringLiteral("down"),
                at + QStringLiteral(", no answer for ") + Duration(c.TimeMs - c.LastAnswerMs)};
    case HostState::Degraded: {
        const QString why = ReasonText(c);
        const QString details = why.isEmpty() ? at : at + QStringLiteral(": ") + why;
        if (c.From == HostState::Down)
            return {QStringLiteral("answers again, degraded"), details};
        return {QStringLiteral("degraded"), details};
    }
    case HostState::Up:
        if (c.From == HostState::Down)
            return {QStringLiteral("up again"), at};
        if (c.From == HostState::Degraded)
            return {QStringLiteral("answers normally again"), at};
        return {QStringLiteral("up"), at};
    case HostState::Unknown:
        break;
    }
    return {QString::fromLatin1(states::MetricLabel(c.To)), at};
}

} // namespace

QString ChangeLine(const Change& change) {
    const Words w = WordsOf(change);
    return change.Host + QLatin1Char(' ') + w.Headline + QLatin1Char(' ') + w.Details;
}

Notice RoundNotice(const QVector<Change>& changes) {
    QVector<Change> news;
    for (const Change& c : changes)
        if (c.From != HostState::Unknown && c.To != HostState::Unknown && c.From != c.To)
            news.append(c);
    Notice notice;
    if (news.isEmpty())
        return notice;
    HostState worst = HostState::Up;
    for (const Change& c : news)
        if (Rank(c.To) > Rank(worst))
            worst = c.To;
    notice.Sound = worst == HostState::Down       ? AlertDown
                   : worst == HostState::Degraded ? AlertDegraded
                                                  : AlertUp;
    if (news.size() == 1) {
        const Words w = WordsOf(news.front());
        notice.Summary = news.front().Host + QLatin1Char(' ') + w.Headline;
        notice.Body = w.Details;
        return notice;
    }
    notice.Summary = QStringLiteral("%1 hosts changed state").arg(news.size());
    QStringList lines;
    for (const Change& c : news)
        lines << ChangeLine(c);
    notice.Body = lines.join(QLatin1Char('\n'));
    return notice;
}

QString Duration(qint64 ms) {
    const qint64 s = std::max<qint64>(0, ms) / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return s % 60 ? QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60)
                      : QStringLiteral("%1 min").arg(s / 60);
    if (s < 86400)
        return (s / 60) % 60 ? QStringLiteral("%1 h %2 min").arg(s / 3600).arg((s / 60) % 60)
                             : QStringLiteral("%1 h").arg(s / 3600);
    return (s / 3600) % 24 ? QStringLiteral("%1 d %2 h").arg(s / 86400).arg((s / 3600) % 24)
                           : QStringLiteral("%1 d").arg(s / 86400);
}

QString RowText(const QString& address, HostState listState, const Status& status) {
    if (status.State == HostState::Down) {
        if (status.SinceMs < 0)
            return address + QStringLiteral(", down");
        return address + QStringLiteral(", down since ") +
               ClockTime(status.SinceMs, QStringLiteral("HH:mm"));
    }
    QString words = states::SpokenWords(listState);
    if (status.State == HostState::Degraded)
        words += QStringLiteral(", degraded");
    return address + QStringLiteral(", ") + words;
}

} // namespace alerts

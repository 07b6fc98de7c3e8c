#pragma once

#include "states/HostState.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <deque>
#include <optional>

namespace alerts {

// What the watch over a host concludes from its runs so far: Unknown, Up,
// Degraded or Down of the program's one vocabulary of host states.
using states::HostState;

// When a host's state changes. A setting of 0 switches its test off.
struct Limits {
    // Consecutive runs without any answer that make a host down. A host
    // whose full loss window shows echoes lost at random needs a longer
    // run of failures, one that such loss seldom makes (see
    // THostStates::FailuresToDown): it is degraded, not down.
    int FailuresToDown = 3;
    // Consecutive answering runs that bring a down host back. The same
    // number of runs confirms a move between up and degraded, so that one
    // slow run is not news.
    int AnswersToUp = 2;
    // Degraded while the round-trip time of a run is over this many
    // milliseconds.
    int RttLimitMs = 0;
    // Degraded while the round-trip time is over this multiple of the host's
    // baseline: the median of its last answering runs.
    int BaselineFactor = 0;
    // Degraded while more than LossPercent of the last LossWindow echoes
    // went unanswered. Judged only once the window is full. The echoes of an
    // outage do not count: the window starts afresh when the host answers
    // again.
    int LossWindow = 20;
    int LossPercent = 20;
};

// One ended run of a host: the round-trip time of every echo it sent in
// milliseconds, -1 for an echo that got no answer. A run of several echoes
// (a ping) is one run; each of its echoes counts in the loss window. A run
// that ended with an error before any echo has none and counts as failed.
struct Run {
    qint64 TimeMs = 0; // end of the run, milliseconds since 1970 UTC
    QVector<int> Echoes;
};

// Why a host is degraded.
enum class Reason : std::uint8_t { None, Slow, Lossy };

// A host moved from one state to another with the run at TimeMs.
struct Change {
    QString Host;
    HostState From = HostState::Unknown;
    HostState To = HostState::Unknown;
    qint64 TimeMs = 0;
    // The last run that got an answer; -1 when the host never answered.
    qint64 LastAnswerMs = -1;
    // For a change to degraded: why, the figure (ms or percent) and the
    // limit it is over.
    Reason Why = Reason::None;
    int Value = 0;
    int Limit = 0;
};

// Where a host stands.
struct Status {
    HostState State = HostState::Unknown;
    // When the present state began: for a down host, its first run without
    // an answer; else the run that made the change.
    qint64 SinceMs = -1;
    qint64 LastAnswerMs = -1;
};

// The state of every watched host, fed one run at a time. Pure bookkeeping
// without clocks, threads or windows: the caller hands in each run as it
// ends, in order. New limits take effect with each host's next run; the
// counts so far are kept.
class THostStates {
public:
    explicit THostStates(const Limits& limits = {});

    const Limits& GetLimits() const { return FLimits; }
    void SetLimits(const Limits& limits);

    // Takes in a run of host; returns the change it made, if any.
    std::optional<Change> Feed(const QString& host, const Run& run);

    Status StatusOf(const QString& host) const;
    HostState State(const QString& host) const { return StatusOf(host).State; }
    // The worst state of all hosts: down, then degraded, up, unknown.
    HostState Worst() const;
    // Drops every host not in hosts (entries removed from the list).
    void Retain(const QStringList& hosts);
    void Clear() { FHosts.clear(); }

    // How many answering runs make up the baseline, and how many it needs
    // before it counts.
    static constexpr int BaselineRuns = 10;
    static constexpr int BaselineMinRuns = 3;
    // Baselines under this count as this: round-trip times come in whole
    // milliseconds, and a multiple of a 0 or 1 ms baseline would call every
    // scheduling hiccup of a near host slow.
    static constexpr int BaselineFloorMs = 10;
    // A run of failures makes a lossy host down once loss at the rate of its
    // window would make such a run less than once in this many tries.
    static constexpr int OutageOdds = 1000;
    // The consecutive failed runs that make a host down, given the echoes
    // lost and sent in its loss window before those runs and whether the
    // window is full: the limit while it is not, while it lost nothing
    // before or loss is not watched; more the more it lost, at most a
    // window's worth.
    int FailuresToDown(qint64 lost, qint64 window, bool full) const;

private:
    struct Host {
        Status Now;
        int Failures = 0; // consecutive runs without answer
        int Answers = 0;  // consecutive answering runs
        int Good = 0;     // consecutive answering runs within the limits
        int Poor = 0;     // answering runs over a limit, failures between them ignored
        qint64 FirstFailureMs = -1;
        std::deque<bool> Lost;    // the loss window, newest last
        int StreakLost = 0;       // echoes lost by the present failures
        std::deque<int> Baseline; // round-trip times of the last answering runs
    };

    struct Verdict {
        Reason Why = Reason::None;
        int Value = 0;
        int Limit = 0;
    };
    Verdict Judge(const Host& h, int rtt) const;
    void TrimLoss(Host& h) const;

    Limits FLimits;
    QHash<QString, Host> FHosts;
};

// The desktop notice of one automatic round.
struct Notice {
    QString Summary;
    QString Body;
    // The sound clip for the worst change: AlertDown, AlertDegraded or AlertUp.
    QString Sound;
    bool IsEmpty() const { return Summary.isEmpty(); }
};

// Names of the three alert clips in the program's sound resources.
inline const QString AlertDown = QStringLiteral("ALERTDOWN");
inline const QString AlertDegraded = QStringLiteral("ALERTDEGRADED");
inline const QString AlertUp = QStringLiteral("ALERTUP");

// The one notice for the changes of a round, listing each host that
// changed; empty when nothing is news. A host's first state (leaving
// unknown) is not news: it says what the host was already doing.
Notice RoundNotice(const QVector<Change>& changes);

// One line of a notice: "192.168.1.1 down at 12:03:10, no answer for 1 min 30 s".
QString ChangeLine(const Change& change);

// A span of time in words: "45 s", "1 min 30 s", "2 h 5 min", "3 d 4 h".
QString Duration(qint64 ms);

// The words assistive technology reads for a row of the address list: the
// address, then what its picture shows (the list's state: not checked, timed
// out, answered), or the watch's verdict where it says more: "127.0.0.1,
// answered", "10.0.0.9, down since 12:03".
QString RowText(const QString& address, HostState listState, const Status& status = {});

} // namespace alerts

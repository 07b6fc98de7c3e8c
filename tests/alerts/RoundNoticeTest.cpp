// What a round of automatic checks tells the user: one notice for the
// hosts whose state changed, its texts and its sound, and the words a
// screen reader hears for a row.
#include "alerts/HostStates.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace alerts;

namespace {

QString At(qint64 ms, const char* format = "HH:mm:ss") {
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(QString::fromLatin1(format));
}

Change C(const char* host, HostState from, HostState to, qint64 time, qint64 lastAnswer = -1) {
    Change c;
    c.Host = QString::fromLatin1(host);
    c.From = from;
    c.To = to;
    c.TimeMs = time;
    c.LastAnswerMs = lastAnswer;
    return c;
}

const qint64 T = QDateTime(QDate(2026, 3, 4), QTime(12, 3, 10)).toMSecsSinceEpoch();

TEST(RoundNotice, NothingNewNoNotice) {
    EXPECT_TRUE(RoundNotice({}).IsEmpty());
    // A host's first state is not news, whatever it is.
    const Notice n = RoundNotice({C("a", HostState::Unknown, HostState::Up, T),
                                  C("b", HostState::Unknown, HostState::Down, T),
                                  C("c", HostState::Unknown, HostState::Degraded, T)});
    EXPECT_TRUE(n.IsEmpty());
    EXPECT_TRUE(n.Sound.isEmpty());
}

TEST(RoundNotice, OneChangeNamesTheHostInTheSummary) {
    Notice n = RoundNotice({C("10.0.0.1", HostState::Up, HostState::Down, T, T - 90000)});
    EXPECT_EQ(n.Summary, "10.0.0.1 down");
    EXPECT_EQ(n.Body, "at " + At(T) + ", no answer for 1 min 30 s");
    EXPECT_EQ(n.Sound, AlertDown);

    n = RoundNotice({C("10.0.0.1", HostState::Down, HostState::Up, T, T)});
    EXPECT_EQ(n.Summary, "10.0.0.1 up again");
    EXPECT_EQ(n.Body, "at " + At(T));
    EXPECT_EQ(n.Sound, AlertUp);

    Change slow = C("h", HostState::Up, HostState::Degraded, T, T);
    slow.Why = Reason::Slow;
    slow.Value = 250;
    slow.Limit = 100;
    n = RoundNotice({slow});
    EXPECT_EQ(n.Summary, "h degraded");
    EXPECT_EQ(n.Body, "at " + At(T) + ": round trip 250 ms, over 100 ms");
    EXPECT_EQ(n.Sound, AlertDegraded);

    n = RoundNotice({C("h", HostState::Degraded, HostState::Up, T, T)});
    EXPECT_EQ(n.Summary, "h answers normally again");
    EXPECT_EQ(n.Sound, AlertUp);
}

TEST(RoundNotice, SeveralChangesMakeOneNoticeWithTheWorstSound) {
    Change lossy = C("b", HostState::Down, HostState::Degraded, T + 1000, T + 1000);
    lossy.Why = Reason::Lossy;
    lossy.Value = 35;
    lossy.Limit = 20;
    const QVector<Change> round = {C("a", HostState::Degraded, HostState::Down, T, T - 7500000),
                                   C("new", HostState::Unknown, HostState::Up, T), lossy,
                                   C("c", HostState::Down, HostState::Up, T + 2000, T + 2000)};
    const Notice n = RoundNotice(round);
    EXPECT_EQ(n.Summary, "3 hosts changed state");
    EXPECT_EQ(n.Body, "a down at " + At(T) + ", no answer for 2 h 5 min\n" +
                          "b answers again, degraded at " + At(T + 1000) +
                          ": 35 % of its echoes lost, over 20 %\n" + "c up again at " +
                          At(T + 2000));
    EXPECT_EQ(n.Sound, AlertDown);
    EXPECT_EQ(RoundNotice({round[2], round[3]}).Sound, AlertDegraded);
    // Down without ever having answered.
    EXPECT_EQ(ChangeLine(C("x", HostState::Up, HostState::Down, T)),
              "x down at " + At(T) + ", no answer yet");
}

TEST(RoundNotice, Durations) {
    const std::pair<qint64, const char*> cases[] = {
        {-5000, "0 s"},           {0, "0 s"},
        {59999, "59 s"},          {60000, "1 min"},
        {61000, "1 min 1 s"},     {3599000, "59 min 59 s"},
        {3600000, "1 h"},         {3660000, "1 h 1 min"},
        {86400000, "1 d"},        {90000000, "1 d 1 h"},
        {864000000000, "10000 d"}};
    for (const auto& [ms, text] : cases)
        EXPECT_EQ(Duration(ms), QString::fromLatin1(text)) << ms;
}

TEST(RoundNotice, RowTexts) {
    EXPECT_EQ(RowText("127.0.0.1", HostState::Answered), "127.0.0.1, answered");
    EXPECT_EQ(RowText("10.0.0.9", HostState::TimedOut), "10.0.0.9, timed out");
    EXPECT_EQ(RowText("host", HostState::None), "host, not checked");
    Status s;
    s.State = HostState::Down;
    s.SinceMs = T;
    EXPECT_EQ(RowText("10.0.0.9", HostState::TimedOut, s),
              "10.0.0.9, down since " + At(T, "HH:mm"));
    s.SinceMs = -1;
    EXPECT_EQ(RowText("10.0.0.9", HostState::TimedOut, s), "10.0.0.9, down");
    s.State = HostState::Degraded;
    EXPECT_EQ(RowText("10.0.0.9", HostState::Answered, s), "10.0.0.9, answered, degraded");
    // Up or not yet judged: the picture says it all.
    s.State = HostState::Up;
    EXPECT_EQ(RowText("10.0.0.9", HostState::TimedOut, s), "10.0.0.9, timed out");
}

// Rounds of an automatic Check All over three hosts, as the program drives
// the watch: only rounds with a change make a notice.
TEST(RoundNotice, RoundsOfChecks) {
    THostStates states;
    qint64 t = T;
    auto round = [&](std::initializer_list<std::pair<const char*, int>> runs) {
        t += 30000;
        QVector<Change> changes;
        for (const auto& [host, rtt] : runs) {
            alerts::Run run;
            run.TimeMs = t;
            run.Echoes = {rtt};
            if (auto c = states.Feed(QString::fromLatin1(host), run))
                changes.append(*c);
        }
        return RoundNotice(changes);
    };
    // The first round learns; then one lost echo of b changes nothing.
    EXPECT_TRUE(round({{"a", 1}, {"b", 1}, {"c", -1}}).IsEmpty());
    EXPECT_TRUE(round({{"a", 1}, {"b", -1}, {"c", -1}}).IsEmpty());
    EXPECT_TRUE(round({{"a", 1}, {"b", 1}, {"c", -1}}).IsEmpty()); // c: down, first state
    EXPECT_EQ(states.State("c"), HostState::Down);
    // a stops answering: down on its third silent round, once.
    EXPECT_TRUE(round({{"a", -1}, {"b", 1}, {"c", -1}}).IsEmpty());
    EXPECT_TRUE(round({{"a", -1}, {"b", 1}, {"c", -1}}).IsEmpty());
    const qint64 lastAnswer = t - 60000;
    Notice n = round({{"a", -1}, {"b", 1}, {"c", -1}});
    EXPECT_EQ(n.Summary, "a down");
    EXPECT_EQ(n.Body, "at " + At(t) + ", no answer for " + Duration(t - lastAnswer));
    EXPECT_TRUE(round({{"a", -1}, {"b", 1}, {"c", -1}}).IsEmpty());
    // a and c come back together after two answering rounds: one notice.
    EXPECT_TRUE(round({{"a", 1}, {"b", 1}, {"c", 1}}).IsEmpty());
    n = round({{"a", 1}, {"b", 1}, {"c", 1}});
    EXPECT_EQ(n.Summary, "2 hosts changed state");
    EXPECT_EQ(n.Sound, AlertUp);
    EXPECT_TRUE(round({{"a", 1}, {"b", 1}, {"c", 1}}).IsEmpty());
}

} // namespace

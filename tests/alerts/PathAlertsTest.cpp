// The watch over paths: forwarded loss from a hop with the hosts'
// hysteresis, and the notices a path's events make.
#include "alerts/PathAlerts.h"

#include <QDateTime>
#include <gtest/gtest.h>

namespace {

using alerts::PathAlerts;
using alerts::PathEvent;
using alerts::PathHop;

constexpr qint64 T0 = 1'765'000'000'000;

QString At(qint64 ms, const char* format) {
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(QString::fromLatin1(format));
}

// A path of four hops whose forwarded loss is given per hop.
QVector<PathHop> Hops(double h1, double h2, double h3, double h4) {
    return {{1, "10.0.1.1", h1}, {2, "10.0.2.1", h2}, {3, "10.0.3.1", h3}, {4, "10.0.4.2", h4}};
}

// Rounds of one path, one a second, each given by the forwarded loss of its
// hops; the events they make, as "round: began/ended hop".
struct Case {
    const char* name;
    int failuresToDown;
    int answersToUp;
    std::vector<QVector<PathHop>> rounds;
    QStringList events;
};

TEST(PathAlerts, LossFromAHopBeginsAndEndsWithTheHostsHysteresis) {
    const auto quiet = Hops(0, 0, 0, 0);
    const auto from3 = Hops(0, 0, 30, 30);
    const auto from2 = Hops(0, 25, 30, 30);
    const auto limited = Hops(0, 0, 0, 0); // a hop's own loss is not in these figures
    const auto edge = Hops(0, 0, 20, 20);  // at the threshold is not over it
    const Case cases[] = {
        {"three rounds over the threshold begin it, two under end it",
         3,
         2,
         {quiet, from3, from3, from3, from3, quiet, quiet, quiet},
         {"3: began 3 since 1", "6: ended 3 since 1"}},
        {"a short burst is no news", 3, 2, {from3, from3, quiet, from3, from3, quiet}, {}},
        {"one round under does not end it",
         1,
         2,
         {from3, quiet, from3, quiet, quiet},
         {"0: began 3 since 0", "4: ended 3 since 0"}},
        {"the first lossy hop is named, the start kept",
         2,
         1,
         {from3, from2, quiet},
         {"1: began 2 since 0", "2: ended 2 since 0"}},
        {"the threshold itself is not loss", 1, 1, {edge, edge}, {}},
        {"a router limiting its own answers is quiet", 1, 1, {limited, limited}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        alerts::Limits limits;
        limits.FailuresToDown = c.failuresToDown;
        limits.AnswersToUp = c.answersToUp;
        limits.LossPercent = 20;
        PathAlerts watch(limits);
        QStringList seen;
        for (std::size_t i = 0; i < c.rounds.size(); ++i) {
            const qint64 t = T0 + static_cast<qint64>(i) * 1000;
            if (auto e = watch.Round("far", c.rounds[i], t)) {
                const bool began = e->What == PathEvent::Kind::LossBegan;
                seen << QStringLiteral("%1: %2 %3 since %4")
                            .arg(i)
                            .arg(began ? "began" : "ended")
                            .arg(e->Ttl)
                            .arg((e->SinceMs - T0) / 1000);
                EXPECT_EQ(watch.Losing(), began);
            }
        }
        EXPECT_EQ(seen, c.events);
    }
}

TEST(PathAlerts, PathsAreJudgedApartAndForgotten) {
    alerts::Limits limits;
    limits.FailuresToDown = 1;
    limits.AnswersToUp = 1;
    PathAlerts watch(limits);
    ASSERT_TRUE(watch.Round("a", Hops(0, 50, 50, 50), T0));
    EXPECT_FALSE(watch.Round("b", Hops(0, 0, 0, 0), T0));
    EXPECT_TRUE(watch.Losing());
    watch.Forget("a");
    EXPECT_FALSE(watch.Losing());
    // Forgotten: it begins again rather than ending.
    const auto e = watch.Round("a", Hops(0, 50, 50, 50), T0 + 1000);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->What, PathEvent::Kind::LossBegan);
}

TEST(PathAlerts, NoticesNameTheHopTheNodeAndTheTime) {
    PathEvent e;
    e.Entry = "far.example";
    e.Ttl = 4;
    e.Responder = "10.0.3.1";
    e.SinceMs = T0;
    e.TimeMs = T0 + 90000;
    e.LossPercent = 35;
    alerts::Notice n = alerts::PathNotice(e);
    EXPECT_EQ(n.Summary, "far.example: loss from hop 4");
    EXPECT_EQ(n.Body, "loss from hop 4, 10.0.3.1, since " + At(T0, "HH:mm") + " (35 % forwarded)");
    EXPECT_EQ(n.Sound, alerts::AlertDegraded);

    e.What = PathEvent::Kind::LossEnded;
    n = alerts::PathNotice(e);
    EXPECT_EQ(n.Summary, "far.example: loss from hop 4 ended");
    EXPECT_EQ(n.Body, "loss from hop 4, 10.0.3.1, from " + At(T0, "HH:mm") + " to " +
                          At(T0 + 90000, "HH:mm") + ", 1 min 30 s");
    EXPECT_EQ(n.Sound, alerts::AlertUp);

    e.What = PathEvent::Kind::RouteChanged;
    e.Before = {"10.0.1.1", "10.0.2.1", "10.0.3.1"};
    e.After = {"10.0.1.1", "10.0.12.1", "10.0.3.1", "10.0.4.2"};
    n = alerts::PathNotice(e);
    EXPECT_EQ(n.Summary, "far.example: route changed");
    EXPECT_EQ(n.Body, "at " + At(T0 + 90000, "HH:mm:ss") +
                          "\nhop 2: 10.0.2.1 \u2192 10.0.12.1\nhop 4: * \u2192 10.0.4.2");

    e.What = PathEvent::Kind::Flapping;
    n = alerts::PathNotice(e);
    EXPECT_EQ(n.Summary, "far.example: route flapping");
    EXPECT_TRUE(
        n.Body.startsWith("since " + At(T0 + 90000, "HH:mm:ss") + ", between two routes\n"));
}

} // namespace

#include "probe/ProbeMetrics.h"

#include <QProcess>
#include <QString>
#include <gtest/gtest.h>

using namespace probe;

namespace {

struct Sample {
    std::vector<HostStats> stats;
    std::vector<HostSeries> series;
};

// Two hosts: one answered three times, one never with every kind of failure.
Sample twoHosts() {
    Sample s;
    s.stats.resize(2);
    s.stats[0].requests = 3;
    s.stats[0].AddAnswer(0.00004, 64); // into the first bucket
    s.stats[0].AddAnswer(0.0001, 64);  // exactly on the second bound
    s.stats[0].AddAnswer(100.0, 63);   // above every bound
    s.stats[1].requests = 4;
    s.stats[1].AddFailure(Outcome::TimedOut, {});
    s.stats[1].AddFailure(Outcome::Unreachable, "host_unreachable");
    s.stats[1].AddFailure(Outcome::Unreachable, "host_unreachable");
    s.stats[1].AddFailure(Outcome::SendError, {});
    s.stats[1].nameErrors = 2;
    s.series = {{QStringLiteral("far.example"), QStringLiteral("192.0.2.1"), 4, &s.stats[0]},
                {QStringLiteral("odd\"na\\me\n"), QStringLiteral("2001:db8::1"), 6, &s.stats[1]}};
    return s;
}

const std::vector<std::pair<QString, QString>> site = {
    {QStringLiteral("site"), QStringLiteral("berlin")}};

bool has(const QByteArray& text, const char* line) {
    return text.contains(QByteArray(line) + '\n');
}

} // namespace

TEST(ProbeMetrics, BucketsRunFrom50MicrosecondsDoublingToAbout26Seconds) {
    const auto& b = RttBucketBounds();
    EXPECT_DOUBLE_EQ(b.front(), 0.00005);
    EXPECT_NEAR(b.back(), 26.2144, 1e-9);
    std::string code;
    EXPECT_EQ(ClassifyStatus(0, code), Outcome::Answer);
    EXPECT_EQ(ClassifyStatus(11010, code), Outcome::TimedOut);
    EXPECT_EQ(ClassifyStatus(11002, code), Outcome::Unreachable);
    EXPECT_EQ(code, "net_unreachable");
    EXPECT_EQ(ClassifyStatus(11050, code), Outcome::SendError);
    EXPECT_EQ(ClassifyStatus(static_cast<int>(0x80000100u), code), Outcome::SendError);
}

TEST(ProbeMetrics, TextFormatCountsExactlyWithEscapedLabels) {
    Sample s = twoHosts();
    ProbeFigures figures;
    figures.hosts = 2;
    QByteArray text = RenderMetrics(s.series, site, figures, false);
    const char* far = "host=\"far.example\",ip=\"192.0.2.1\",ip_version=\"4\",site=\"berlin\"";
    auto line = [&](const char* name, const char* extra, const char* value) {
        return QByteArray(name) + '{' + far + (extra[0] ? "," : "") + extra + "} " + value;
    };
    EXPECT_TRUE(has(text, line("netsonde_requests_total", "", "3")));
    EXPECT_TRUE(has(text, line("netsonde_answers_total", "", "3")));
    EXPECT_TRUE(has(text, line("netsonde_rtt_seconds_bucket", "le=\"5e-05\"", "1")));
    EXPECT_TRUE(has(text, line("netsonde_rtt_seconds_bucket", "le=\"0.0001\"", "2")));
    EXPECT_TRUE(has(text, line("netsonde_rtt_seconds_bucket", "le=\"26.2144\"", "2")));
    EXPECT_TRUE(has(text, line("netsonde_rtt_seconds_bucket", "le=\"+Inf\"", "3")));
    EXPECT_TRUE(has(text, line("netsonde_rtt_seconds_count", "", "3")));
    EXPECT_TRUE(has(text, line("netsonde_answer_ttl", "", "63")));
    EXPECT_TRUE(has(text, line("netsonde_host_state", "state=\"up\"", "1")));
    EXPECT_TRUE(text.contains("# TYPE netsonde_requests_total counter\n"));
    EXPECT_FALSE(text.contains("# EOF"));

    const char* odd =
        "host=\"odd\\\"na\\\\me\\n\",ip=\"2001:db8::1\",ip_version=\"6\",site=\"berlin\"";
    auto oddLine = [&](const char* extra, const char* value) {
        return QByteArray("netsonde_failures_total{") + odd + ',' + extra + "} " + value;
    };
    EXPECT_TRUE(has(text, oddLine("kind=\"timeout\"", "1")));
    EXPECT_TRUE(has(text, oddLine("kind=\"unreachable\",code=\"host_unreachable\"", "2")));
    EXPECT_TRUE(has(text, oddLine("kind=\"send_error\"", "1")));
    EXPECT_TRUE(has(text, oddLine("kind=\"name_error\"", "2")));
    // Every host has all four states, the one it is in at 1.
    for (const char* state : {"up", "degraded", "unknown"})
        EXPECT_TRUE(
            has(text, QByteArray("netsonde_host_state{") + odd + ",state=\"" + state + "\"} 0"));
    EXPECT_TRUE(has(text, QByteArray("netsonde_host_state{") + odd + ",state=\"down\"} 1"));
    EXPECT_TRUE(has(text, line("netsonde_host_state", "state=\"down\"", "0")));
    // A host that never answered has no last TTL.
    EXPECT_FALSE(text.contains(QByteArray("netsonde_answer_ttl{") + odd));
}

TEST(ProbeMetrics, OpenMetricsNamesFamiliesAndEndsInEof) {
    Sample s = twoHosts();
    QByteArray text = RenderMetrics(s.series, {}, {}, true);
    EXPECT_TRUE(text.endsWith("# EOF\n"));
    EXPECT_TRUE(text.contains("# TYPE netsonde_requests counter\n"));
    EXPECT_TRUE(text.contains("# UNIT netsonde_rtt_seconds seconds\n"));
    EXPECT_TRUE(text.contains("netsonde_requests_total{host=\"far.example\""));
}

// promtool's linter reads what a scrape in the text format gets.
TEST(ProbeMetrics, PromtoolFindsNothingToReport) {
    if (QString(QStringLiteral(PROMTOOL)).isEmpty())
        GTEST_SKIP() << "promtool is not installed";
    Sample s = twoHosts();
    {
        QProcess promtool;
        promtool.start(QStringLiteral(PROMTOOL),
                       {QStringLiteral("check"), QStringLiteral("metrics")});
        ASSERT_TRUE(promtool.waitForStarted());
        promtool.write(RenderMetrics(s.series, site, {}, false));
        promtool.closeWriteChannel();
        ASSERT_TRUE(promtool.waitForFinished(30000));
        QByteArray said = promtool.readAllStandardOutput() + promtool.readAllStandardError();
        EXPECT_EQ(promtool.exitCode(), 0) << said.toStdString();
        EXPECT_TRUE(said.trimmed().isEmpty()) << said.toStdString();
    }
}

// A scrape is written in pieces of any size with the same bytes as at
// once, and shows the figures as they were when it began, however long the
// client takes to read it.
TEST(ProbeMetrics, PiecesOfAnySizeMakeTheSameFrozenText) {
    for (bool om : {false, true}) {
        for (qsizetype budget : {1, 40, 700, 1 << 20}) {
            Sample s = twoHosts();
            const QByteArray whole = RenderMetrics(s.series, site, {}, om);
            std::vector<HostSnapshot> frozen;
            for (const HostSeries& h : s.series)
                frozen.push_back({h.host, h.ip, h.ipVersion, *h.stats});
            MetricsWriter writer(std::move(frozen), site, {}, om);
            QByteArray text;
            int pieces = 0;
            for (qsizetype before = 0; writer.Next(text, budget); before = text.size()) {
                ++pieces;
                ASSERT_GT(text.size(), before) << "an empty piece";
                ASSERT_TRUE(text.endsWith('\n')) << "a piece ends inside a line";
                // Probing goes on between pieces.
                s.stats[0].requests += 5;
                s.stats[0].AddAnswer(0.001, 60);
            }
            EXPECT_EQ(text, whole) << "budget " << budget << (om ? " OpenMetrics" : " text");
            EXPECT_FALSE(writer.Next(text, budget));
            if (budget == 1) {
                EXPECT_GT(pieces, 10);
            }
        }
    }
}

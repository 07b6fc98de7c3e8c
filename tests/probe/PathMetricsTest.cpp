// The exposition of watched paths: every family's lines for a path with
// hops and responders and for one whose name has no address yet, the series
// count per path that the README states, OpenMetrics, promtool's linter, and
// a prober without paths writing what it always wrote.
#include "probe/ProbeMetrics.h"

#include <QProcess>
#include <QString>
#include <gtest/gtest.h>

using namespace probe;

namespace {

const std::vector<std::pair<QString, QString>> site = {
    {QStringLiteral("site"), QStringLiteral("lab")}};

// A path of three hops: the second one load-balanced over two routers, the
// target at TTL 3; and a path whose name never resolved.
std::vector<PathSnapshot> twoPaths() {
    PathStats far;
    far.changes = 2;
    far.nameErrors = 1;
    far.hops = 3;
    for (int ttl = 1; ttl <= 3; ++ttl) {
        HopStats h;
        h.ttl = ttl;
        h.requests = 10;
        h.answers = 10 - static_cast<std::uint64_t>(ttl);
        far.hopStats.push_back(h);
    }
    far.hopStats[0].rttBuckets[0] = 9;                  // at most 0.1 ms
    far.hopStats[1].rttBuckets[2] = 8;                  // 0.4 to 1.6 ms
    far.hopStats[2].rttBuckets[PathRttBucketCount] = 7; // above every bound
    far.hopStats[2].rttSum = 14;
    far.hopStats[1].forwardedLoss = 0.25;
    far.hopStats[1].jitter = 0.0015;
    far.responders = {{1, "192.0.2.1", "gw.example"},
                      {2, "192.0.2.2", ""},
                      {2, "192.0.2.3", "odd\"name"},
                      {3, "198.51.100.7", "far.example"}};
    PathStats none;
    none.nameErrors = 4;
    return {{QStringLiteral("far.example"), QStringLiteral("198.51.100.7"), 4, far},
            {QStringLiteral("nosuch.example"), QString(), 0, none}};
}

QByteArray render(bool om, std::vector<PathSnapshot> paths) {
    MetricsWriter writer({}, site, {}, om, std::move(paths));
    QByteArray text;
    while (writer.Next(text, 1 << 20)) {
    }
    return text;
}

bool has(const QByteArray& text, const QByteArray& line) {
    return text.contains('\n' + line + '\n');
}

} // namespace

TEST(PathMetrics, EveryFamilyShowsEachHopByTtlAndEachResponder) {
    const QByteArray text = render(false, twoPaths());
    const QByteArray far = "host=\"far.example\",ip=\"198.51.100.7\",ip_version=\"4\",site=\"lab\"";
    const QByteArray none = "host=\"nosuch.example\",ip=\"\",ip_version=\"\",site=\"lab\"";
    struct Line {
        const char* name;
        const char* extra;
        const char* value;
        bool farPath = true;
    };
    for (const Line& l : std::vector<Line>{
             {"netsonde_path_hop_requests_total", "ttl=\"1\"", "10"},
             {"netsonde_path_hop_answers_total", "ttl=\"3\"", "7"},
             {"netsonde_path_hop_forwarded_loss_ratio", "ttl=\"2\"", "0.25"},
             {"netsonde_path_hop_forwarded_loss_ratio", "ttl=\"1\"", "0"},
             {"netsonde_path_hop_jitter_seconds", "ttl=\"2\"", "0.0015"},
             // Cumulative buckets with the hosts' le texts.
             {"netsonde_path_hop_rtt_seconds_bucket", "ttl=\"1\",le=\"0.0001\"", "9"},
             {"netsonde_path_hop_rtt_seconds_bucket", "ttl=\"2\",le=\"0.0004\"", "0"},
             {"netsonde_path_hop_rtt_seconds_bucket", "ttl=\"2\",le=\"0.0016\"", "8"},
             {"netsonde_path_hop_rtt_seconds_bucket", "ttl=\"2\",le=\"1.6384\"", "8"},
             {"netsonde_path_hop_rtt_seconds_bucket", "ttl=\"3\",le=\"1.6384\"", "0"},
             {"netsonde_path_hop_rtt_seconds_bucket", "ttl=\"3\",le=\"+Inf\"", "7"},
             {"netsonde_path_hop_rtt_seconds_sum", "ttl=\"3\"", "14"},
             {"netsonde_path_hop_rtt_seconds_count", "ttl=\"3\"", "7"},
             {"netsonde_path_hop_info", "ttl=\"1\",responder=\"192.0.2.1\",name=\"gw.example\"",
              "1"},
             {"netsonde_path_hop_info", "ttl=\"2\",responder=\"192.0.2.2\",name=\"\"", "1"},
             {"netsonde_path_hop_info", "ttl=\"2\",responder=\"192.0.2.3\",name=\"odd\\\"name\"",
              "1"},
             {"netsonde_path_hops", "", "3"},
             {"netsonde_path_changes_total", "", "2"},
             {"netsonde_path_name_errors_total", "", "1"},
             {"netsonde_path_hops", "", "0", false},
             {"netsonde_path_changes_total", "", "0", false},
             {"netsonde_path_name_errors_total", "", "4", false},
         }) {
        const QByteArray line = QByteArray(l.name) + '{' + (l.farPath ? far : none) +
                                (l.extra[0] ? "," : "") + l.extra + "} " + l.value;
        EXPECT_TRUE(has(text, line)) << line.toStdString();
    }
    // A path without an address has no hops to show.
    EXPECT_FALSE(text.contains("netsonde_path_hop_requests_total{" + none));
    EXPECT_TRUE(text.contains("# TYPE netsonde_path_hop_rtt_seconds histogram\n"));
    EXPECT_TRUE(text.contains("# TYPE netsonde_path_changes_total counter\n"));
}

// What the README states: per hop 2 counters, 2 gauges and a histogram of
// PathRttBucketCount + 1 buckets, a sum and a count; one info series per
// responder; 3 series per path.
TEST(PathMetrics, APathHasFifteenSeriesPerHopOnePerResponderAndThree) {
    std::vector<PathSnapshot> paths = twoPaths();
    paths.resize(1);
    const QByteArray text = render(false, paths);
    int series = 0;
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith("netsonde_path_") && line.contains("host=\"far.example\""))
            ++series;
    const int perHop = 4 + (PathRttBucketCount + 1) + 2;
    EXPECT_EQ(perHop, 15);
    EXPECT_EQ(series, perHop * 3 + 4 + 3);
}

TEST(PathMetrics, OpenMetricsNamesFamiliesWithUnitsBeforeTheEnd) {
    const QByteArray text = render(true, twoPaths());
    for (const char* line :
         {"# TYPE netsonde_path_hop_requests counter", "# TYPE netsonde_path_hop_answers counter",
          "# TYPE netsonde_path_changes counter", "# TYPE netsonde_path_name_errors counter",
          "# UNIT netsonde_path_hop_rtt_seconds seconds",
          "# UNIT netsonde_path_hop_jitter_seconds seconds",
          "# UNIT netsonde_path_hop_forwarded_loss_ratio ratio"})
        EXPECT_TRUE(has(text, line)) << line;
    EXPECT_TRUE(text.endsWith("netsonde_probe_reload_failures_total{site=\"lab\"} 0\n# EOF\n"));
    EXPECT_LT(text.indexOf("netsonde_host_state"), text.indexOf("netsonde_path_hop_requests"));
}

// With no paths nothing of them is written, not even a header; hosts'
// figures come out as they always did.
TEST(PathMetrics, WithoutPathsTheExpositionIsTheHostsAlone) {
    HostStats stats;
    stats.requests = 2;
    stats.AddAnswer(0.001, 60);
    for (bool om : {false, true}) {
        const QByteArray hostsOnly = RenderMetrics(
            {{QStringLiteral("h"), QStringLiteral("192.0.2.1"), 4, &stats}}, site, {}, om);
        EXPECT_FALSE(hostsOnly.contains("netsonde_path"));
        MetricsWriter withPaths({{QStringLiteral("h"), QStringLiteral("192.0.2.1"), 4, stats}},
                                site, {}, om, twoPaths());
        QByteArray text;
        for (int pieces = 0; withPaths.Next(text, 64); ++pieces)
            ASSERT_TRUE(text.endsWith('\n'));
        // Only the paths' families between the hosts' and the probe's own.
        QByteArray without = text;
        const qsizetype from = without.indexOf("# HELP netsonde_path_hop_requests");
        const qsizetype to = without.indexOf("# HELP netsonde_probe_hosts");
        ASSERT_GT(from, 0);
        without.remove(from, to - from);
        EXPECT_EQ(without, hostsOnly) << (om ? "OpenMetrics" : "text");
    }
}

TEST(PathMetrics, PromtoolFindsNothingToReport) {
    if (QString(QStringLiteral(PROMTOOL)).isEmpty())
        GTEST_SKIP() << "promtool is not installed";
    QProcess promtool;
    promtool.start(QStringLiteral(PROMTOOL), {QStringLiteral("check"), QStringLiteral("metrics")});
    ASSERT_TRUE(promtool.waitForStarted());
    promtool.write(render(false, twoPaths()));
    promtool.closeWriteChannel();
    ASSERT_TRUE(promtool.waitForFinished(30000));
    QByteArray said = promtool.readAllStandardOutput() + promtool.readAllStandardError();
    EXPECT_EQ(promtool.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.trimmed().isEmpty()) << said.toStdString();
}

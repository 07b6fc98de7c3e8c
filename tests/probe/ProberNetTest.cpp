#include "probe/Prober.h"

#include "echo/IcmpBinding.h"
#include "probe/MetricsServer.h"
#include "support/EventWait.h"
#include "support/ForgerNode.h"
#include "support/TestNetwork.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <crypt.h>
#include <map>
#include <optional>

#include <arpa/inet.h>

using namespace probe;
using namespace netsonde::test;

namespace {

const bool network = (RequestTestNetwork(), true);

class ProberOnTheNetwork : public ::testing::Test {
protected:
    void SetUp() override {
        if (!InTestNetwork())
            GTEST_SKIP() << TestNetworkProblem();
        binding.emplace();
    }
    void TearDown() override { binding.reset(); }

    static ProbeConfig fast() {
        ProbeConfig c;
        c.intervalMs = 100;
        c.timeoutMs = 300;
        c.resolveEveryMs = 1000;
        return c;
    }
    static Prober::HostView host(const Prober& p, const char* name) {
        for (auto& h : p.Hosts())
            if (h.host == QLatin1String(name))
                return h;
        ADD_FAILURE() << "no host " << name;
        return {};
    }
    // Stops sending once `name` has sent n requests, and waits for every
    // outcome to be in.
    static void runUntil(Prober& p, const char* name, std::uint64_t n) {
        ASSERT_TRUE(WaitUntil([&] { return host(p, name).stats.requests >= n; }, 20000));
        p.Stop();
        ASSERT_TRUE(WaitUntil([&] { return p.InFlight() == 0; }, 10000));
    }
    std::optional<IcmpBindingScope> binding;
};

std::uint64_t failures(const HostStats& s) {
    std::uint64_t n = s.timeouts + s.sendErrors;
    for (auto& [code, count] : s.unreachable)
        n += count;
    return n;
}

} // namespace

// Every request gets exactly one outcome, of the right kind; the answers
// fill the histogram one for one.
TEST_F(ProberOnTheNetwork, CountsEveryRequestOnceByItsOutcome) {
    Prober p(fast());
    p.SetHosts({net::Far, net::Quiet, net::HostUnreachable, net::NetUnreachable, net::Far6});
    runUntil(p, net::Far, 10);
    for (auto& h : p.Hosts()) {
        SCOPED_TRACE(h.host.toStdString());
        EXPECT_GE(h.stats.requests, 9u);
        EXPECT_EQ(h.stats.answers + failures(h.stats), h.stats.requests);
    }
    for (const char* answering : {net::Far, net::Far6}) {
        HostStats s = host(p, answering).stats;
        EXPECT_EQ(s.answers, s.requests);
        std::uint64_t inBuckets = 0;
        for (auto n : s.rttBuckets)
            inBuckets += n;
        EXPECT_EQ(inBuckets, s.answers);
        EXPECT_GT(s.rttSum, 0);
        EXPECT_LT(s.rttSum, 0.3 * static_cast<double>(s.answers));
        EXPECT_EQ(s.lastTtl, 61); // 64 less three routers
        EXPECT_EQ(s.state, HostState::Up);
    }
    HostStats quiet = host(p, net::Quiet).stats;
    EXPECT_EQ(quiet.timeouts, quiet.requests);
    EXPECT_EQ(quiet.state, HostState::Down);
    HostStats hostUnreachable = host(p, net::HostUnreachable).stats;
    EXPECT_EQ(hostUnreachable.unreachable["host_unreachable"], hostUnreachable.requests);
    HostStats netUnreachable = host(p, net::NetUnreachable).stats;
    EXPECT_EQ(netUnreachable.unreachable["net_unreachable"], netUnreachable.requests);

    QByteArray text = p.Metrics(false);
    EXPECT_TRUE(text.contains(
        QByteArray(
            "netsonde_answers_total{host=\"10.61.4.2\",ip=\"10.61.4.2\",ip_version=\"4\"} ") +
        QByteArray::number(host(p, net::Far).stats.answers) + '\n'));
    EXPECT_EQ(p.LateRequests(), 0u);
}

// Replies in the silent host's name, with every identifier and the first
// sequence numbers and the data the prober sends, never count as answers.
TEST_F(ProberOnTheNetwork, ForgedAnswersAreNeverCounted) {
    using Forger = EchoReplyForger<Family4>;
    Forger forger;
    ASSERT_TRUE(forger.Ready());
    forger.Repeat([](Forger& f) {
        const std::vector<std::uint8_t> data(56, 0xAA);
        for (std::uint32_t ident = 0; ident < 65536; ++ident)
            for (std::uint16_t sequence = 0; sequence < 4; ++sequence)
                f.Send(net::Quiet, static_cast<std::uint16_t>(ident), sequence, data);
    });
    Prober p(fast());
    p.SetHosts({net::Quiet});
    runUntil(p, net::Quiet, 15);
    forger.Stop();
    HostStats s = host(p, net::Quiet).stats;
    EXPECT_EQ(s.answers, 0u);
    EXPECT_EQ(s.timeouts, s.requests);
}

// A name is looked up again: when its record moves to another address,
// the prober follows it and starts that address's series from zero. A
// name that does not resolve is counted and tried again.
TEST_F(ProberOnTheNetwork, FollowsANameWhoseAddressChanges) {
    QFile hosts(QStringLiteral("/etc/hosts"));
    auto point = [&](const char* address) {
        ASSERT_TRUE(hosts.open(QIODevice::WriteOnly | QIODevice::Truncate));
        hosts.write(QByteArray("127.0.0.1 localhost\n") + address + " moving.nsd.test\n");
        hosts.close();
    };
    point(net::Far);
    Prober p(fast());
    p.SetHosts({QStringLiteral("moving.nsd.test"), QStringLiteral("nosuch.nsd.test")});
    ASSERT_TRUE(WaitUntil([&] { return host(p, "moving.nsd.test").stats.answers >= 3; }));
    EXPECT_EQ(host(p, "moving.nsd.test").ip, QLatin1String(net::Far));

    point(net::R2);
    ASSERT_TRUE(
        WaitUntil([&] { return host(p, "moving.nsd.test").ip == QLatin1String(net::R2); }, 15000));
    ASSERT_TRUE(WaitUntil([&] { return host(p, "moving.nsd.test").stats.answers >= 2; }));
    EXPECT_EQ(host(p, "moving.nsd.test").stats.lastTtl, 63);

    HostStats none = host(p, "nosuch.nsd.test").stats;
    EXPECT_GE(none.nameErrors, 1u);
    EXPECT_EQ(none.requests, 0u);
    point("");
}

// A reload keeps the counters of the hosts that stay and drops the others.
TEST_F(ProberOnTheNetwork, ReloadKeepsTheCountersOfHostsThatStay) {
    Prober p(fast());
    p.SetHosts({net::Far, net::Quiet});
    ASSERT_TRUE(WaitUntil([&] { return host(p, net::Far).stats.answers >= 5; }));
    std::uint64_t before = host(p, net::Far).stats.requests;
    p.SetHosts({net::R1, net::Far});
    EXPECT_GE(host(p, net::Far).stats.requests, before);
    EXPECT_EQ(p.Hosts().size(), 2u);
    ASSERT_TRUE(WaitUntil([&] {
        return host(p, net::R1).stats.answers >= 3 &&
               host(p, net::Far).stats.requests >= before + 3;
    }));
    EXPECT_FALSE(p.Metrics(false).contains("10.61.5.2"));
}

// The state gauge follows the state machine with the configured
// thresholds: a silent host is unknown until down-after requests in a row
// went unanswered, then down; a host that loses every other request is
// degraded, and up again after up-after answers in a row once it stops.
TEST_F(ProberOnTheNetwork, HostStatesFollowTheirThresholds) {
    ProbeConfig c = fast();
    c.downAfter = 4;
    c.upAfter = 3;
    c.lossWindow = 4;
    c.lossPercent = 20;
    const std::string far = NodeNamespace("far");
    auto lossy = [&](bool on) {
        std::string rule =
            on ? "add table ip lossy { chain input { type filter hook input "
                 "priority 0; icmp type echo-request numgen inc mod 2 == 0 drop; }; }"
               : "delete table ip lossy";
        return std::system(("ip netns exec " + far + " nft '" + rule + "'").c_str());
    };
    ASSERT_EQ(lossy(true), 0);
    Prober p(c);
    p.SetHosts({net::Quiet, net::Far});
    bool consistent = true;
    ASSERT_TRUE(WaitUntil([&] {
        HostStats q = host(p, net::Quiet).stats;
        consistent &= q.state == (q.timeouts >= 4 ? HostState::Down : HostState::Unknown);
        return q.timeouts >= 6 && host(p, net::Far).stats.state == HostState::Degraded;
    }));
    EXPECT_TRUE(consistent) << "the silent host was down before its fourth time-out, or not after";
    HostStats lossyFar = host(p, net::Far).stats;
    EXPECT_GT(lossyFar.timeouts, 0u);
    EXPECT_GT(lossyFar.answers, 0u);
    EXPECT_TRUE(p.Metrics(false).contains(
        "netsonde_host_state{host=\"10.61.4.2\",ip=\"10.61.4.2\",ip_version=\"4\","
        "state=\"degraded\"} 1"));

    ASSERT_EQ(lossy(false), 0);
    const std::uint64_t before = host(p, net::Far).stats.answers;
    ASSERT_TRUE(WaitUntil([&] { return host(p, net::Far).stats.state == HostState::Up; }));
    EXPECT_GE(host(p, net::Far).stats.answers, before + 3);
}

namespace {

// The prober program and a Prometheus server that scrapes it every second.
class WithPrometheus : public ProberOnTheNetwork {
protected:
    static int freePort() {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost, 0);
        return s.serverPort();
    }
    void TearDown() override {
        for (QProcess* p : {&prometheus, &probe})
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(10000))
                    p->kill();
                p->waitForFinished();
            }
        ProberOnTheNetwork::TearDown();
    }
    QByteArray get(const QString& url) {
        QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(url)));
        WaitUntil([&] { return reply->isFinished(); });
        QByteArray body = reply->readAll();
        reply->deleteLater();
        return body;
    }
    // The samples of an instant query.
    QJsonArray results(const QString& promql) {
        QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(promPort));
        QUrlQuery q;
        q.addQueryItem(QStringLiteral("query"), promql);
        url.setQuery(q);
        return QJsonDocument::fromJson(get(url.toString()))
            .object()[QStringLiteral("data")]
            .toObject()[QStringLiteral("result")]
            .toArray();
    }
    // The value of a one-sample instant query, or nothing.
    std::optional<double> query(const QString& promql) {
        QJsonArray result = results(promql);
        if (result.size() != 1)
            return std::nullopt;
        return result[0].toObject()[QStringLiteral("value")].toArray()[1].toString().toDouble();
    }
    // Starts Prometheus scraping the probe at probePort every second.
    void startPrometheus(int probePort, const QTemporaryDir& dir) {
        QString promBinary = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
        QFile config(dir.filePath(QStringLiteral("prometheus.yml")));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                    "scrape_configs:\n  - job_name: netsonde\n    static_configs:\n"
                                    "      - targets: ['127.0.0.1:%1']\n")
                         .arg(probePort)
                         .toUtf8());
        config.close();
        promPort = freePort();
        prometheus.setProcessChannelMode(QProcess::MergedChannels);
        prometheus.setStandardOutputFile(dir.filePath(QStringLiteral("prometheus.log")));
        prometheus.start(
            promBinary,
            {QStringLiteral("--config.file=") + config.fileName(),
             QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("data")),
             QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(promPort)});
        ASSERT_TRUE(prometheus.waitForStarted());
    }
    // promtool's linter on one scrape; nothing when it is not installed.
    static void lint(const QByteArray& metrics) {
        if (QString(QStringLiteral(PROMTOOL)).isEmpty())
            return;
        QProcess promtool;
        promtool.start(QStringLiteral(PROMTOOL),
                       {QStringLiteral("check"), QStringLiteral("metrics")});
        promtool.write(metrics);
        promtool.closeWriteChannel();
        ASSERT_TRUE(promtool.waitForFinished(30000));
        EXPECT_EQ(promtool.exitCode(), 0);
        EXPECT_EQ((promtool.readAllStandardOutput() + promtool.readAllStandardError()).trimmed(),
                  QByteArray());
    }

    QProcess probe;
    QProcess prometheus;
    QNetworkAccessManager manager;
    int promPort = 0;
};

} // namespace

TEST_F(WithPrometheus, ScrapedByARealPrometheus) {
    QString promBinary = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
    if (promBinary.isEmpty())
        GTEST_SKIP() << "prometheus is not installed";
    binding.reset();
    int probePort = freePort();
    probe.setProcessChannelMode(QProcess::ForwardedChannels);
    probe.start(QStringLiteral(PROBE_PROGRAM),
                {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(probePort),
                 QStringLiteral("--label"), QStringLiteral("site=lab"), net::Far, net::Quiet});
    ASSERT_TRUE(probe.waitForStarted());

    // What one scrape gets passes promtool's linter.
    QString metricsUrl = QStringLiteral("http://127.0.0.1:%1/metrics").arg(probePort);
    QByteArray metrics;
    ASSERT_TRUE(WaitUntil([&] {
        metrics = get(metricsUrl);
        return metrics.contains("netsonde_host_state{host=\"10.61.5.2\"");
    }));
    lint(metrics);

    QTemporaryDir dir;
    startPrometheus(probePort, dir);

    auto near = [](std::optional<double> v, double want, double by) {
        return v && std::abs(*v - want) <= by;
    };
    bool up = false, down = false, rate = false;
    WaitUntil(
        [&] {
            up = near(query(QStringLiteral(
                          "netsonde_host_state{host=\"10.61.4.2\",state=\"up\",site=\"lab\"}")),
                      1, 0);
            down = near(
                query(QStringLiteral("netsonde_host_state{host=\"10.61.5.2\",state=\"down\"}")), 1,
                0);
            rate =
                near(query(QStringLiteral("rate(netsonde_requests_total{host=\"10.61.4.2\"}[5s])")),
                     1.0, 0.25);
            return up && down && rate;
        },
        20000);
    EXPECT_TRUE(up);
    EXPECT_TRUE(down);
    EXPECT_TRUE(rate) << query(QStringLiteral("rate(netsonde_requests_total[5s])")).value_or(-1);
}

// Over TLS with basic auth, as an operator who exposes the endpoint sets
// it up: Prometheus with the CA and the user's password scrapes it; without
// the password, or over plain HTTP, it gets nothing.
TEST_F(WithPrometheus, ScrapedOverTlsByItsUserAndRefusedToOthers) {
    QString promBinary = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
    QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (promBinary.isEmpty() || openssl.isEmpty())
        GTEST_SKIP() << "prometheus or openssl is not installed";
    binding.reset();
    QTemporaryDir dir;
    QProcess make;
    make.start(openssl, {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                         QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                         QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                         QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                         QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"),
                         dir.filePath(QStringLiteral("probe.key")), QStringLiteral("-out"),
                         dir.filePath(QStringLiteral("probe.crt"))});
    ASSERT_TRUE(make.waitForFinished(60000));
    ASSERT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    ASSERT_NE(::crypt_gensalt_rn("$2b$", 4, nullptr, 0, setting, sizeof setting), nullptr);
    crypt_data data{};
    const QByteArray hash = ::crypt_r("scrape-secret", setting, &data);
    QFile web(dir.filePath(QStringLiteral("web.yml")));
    ASSERT_TRUE(web.open(QIODevice::WriteOnly));
    web.write("tls_server_config:\n  cert_file: probe.crt\n  key_file: probe.key\n"
              "basic_auth_users:\n  prometheus: " +
              hash + "\n");
    web.close();

    const int probePort = freePort();
    probe.setProcessChannelMode(QProcess::ForwardedChannels);
    probe.start(QStringLiteral(PROBE_PROGRAM),
                {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(probePort),
                 QStringLiteral("--web.config.file"), web.fileName(), net::Far});
    ASSERT_TRUE(probe.waitForStarted());

    QFile config(dir.filePath(QStringLiteral("prometheus.yml")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    const QString target = QStringLiteral("['127.0.0.1:%1']").arg(probePort);
    const QString tls =
        QStringLiteral("    tls_config:\n      ca_file: %1\n").arg(dir.filePath("probe.crt"));
    config.write((QStringLiteral("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                 "scrape_configs:\n"
                                 "  - job_name: user\n    scheme: https\n") +
                  tls +
                  QStringLiteral("    basic_auth:\n      username: prometheus\n"
                                 "      password: scrape-secret\n"
                                 "    static_configs:\n      - targets: %1\n"
                                 "  - job_name: wrong\n    scheme: https\n")
                      .arg(target) +
                  tls +
                  QStringLiteral("    basic_auth:\n      username: prometheus\n"
                                 "      password: guessed\n"
                                 "    static_configs:\n      - targets: %1\n"
                                 "  - job_name: nobody\n    scheme: https\n")
                      .arg(target) +
                  tls +
                  QStringLiteral("    static_configs:\n      - targets: %1\n"
                                 "  - job_name: plain\n    static_configs:\n"
                                 "      - targets: %1\n")
                      .arg(target))
                     .toUtf8());
    config.close();
    promPort = freePort();
    prometheus.setProcessChannelMode(QProcess::MergedChannels);
    prometheus.setStandardOutputFile(dir.filePath(QStringLiteral("prometheus.log")));
    prometheus.start(promBinary,
                     {QStringLiteral("--config.file=") + config.fileName(),
                      QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("data")),
                      QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(promPort)});
    ASSERT_TRUE(prometheus.waitForStarted());

    std::map<QString, std::optional<double>> up;
    const bool settled = WaitUntil(
        [&] {
            for (const char* job : {"user", "wrong", "nobody", "plain"})
                up[job] = query(QStringLiteral("up{job=\"%1\"}").arg(job));
            return up["user"] == 1.0 && up["wrong"] == 0.0 && up["nobody"] == 0.0 &&
                   up["plain"] == 0.0 &&
                   query(QStringLiteral("netsonde_host_state{job=\"user\",host=\"10.61.4.2\","
                                        "state=\"up\"}")) == 1.0;
        },
        30000);
    EXPECT_TRUE(settled) << "user " << up["user"].value_or(-1) << ", wrong "
                         << up["wrong"].value_or(-1) << ", nobody " << up["nobody"].value_or(-1)
                         << ", plain " << up["plain"].value_or(-1);
}

namespace {

// Runs a command in one node of the test network ("ip -n <node> ...").
bool inNode(const char* node, const std::string& command) {
    return std::system(
               ("ip -n " + NodeNamespace(node) + " " + command + " >/dev/null 2>&1").c_str()) == 0;
}

// The lines of one scrape that belong to a path's series.
int pathSeries(const QByteArray& metrics, const char* host) {
    int n = 0;
    const QByteArray label = QByteArray("host=\"") + host + '"';
    for (const QByteArray& line : metrics.split('\n'))
        if (line.startsWith("netsonde_path_") && line.contains(label))
            ++n;
    return n;
}

} // namespace

// Two paths scraped by a real Prometheus: one to the far host whose third
// hop starts answering from another address halfway (r3 sends its reports
// from a second address), one whose name resolves only for a while. The
// change counts once, the info series follow the new responder and the old
// one goes once its (shortened) time is over; the name's errors are counted,
// its path comes when the name resolves and keeps its last address after.
TEST_F(WithPrometheus, PathSeriesFollowARouteChangeAndANameThatComesAndGoes) {
    if (QStandardPaths::findExecutable(QStringLiteral("prometheus")).isEmpty())
        GTEST_SKIP() << "prometheus is not installed";
    QFile hosts(QStringLiteral("/etc/hosts"));
    auto point = [&](const char* address) {
        ASSERT_TRUE(hosts.open(QIODevice::WriteOnly | QIODevice::Truncate));
        hosts.write(QByteArray("127.0.0.1 localhost\n") + address + " pathname.nsd.test\n");
        hosts.close();
    };
    point("");
    auto restore = qScopeGuard([&] {
        inNode("r3", "route replace default via 10.61.3.1");
        inNode("r3", "addr del 10.61.3.3/24 dev r3a");
        point("");
    });

    ProbeConfig c = fast();
    c.labels = {{QStringLiteral("site"), QStringLiteral("lab")}};
    c.pathIntervalMs = 300;
    c.pathTimeoutMs = 250;
    c.pathMaxTtl = 8;
    c.paths = {{net::Far}, {QStringLiteral("pathname.nsd.test")}};
    Prober p(c);
    p.SetResponderExpiryForTests(std::chrono::seconds(4));
    p.SetPaths(c.paths);
    MetricsServer server(
        [&](bool om) -> MetricsServer::Body {
            auto writer = std::make_shared<MetricsWriter>(p.Writer(om));
            return
                [writer](QByteArray& out, qsizetype budget) { return writer->Next(out, budget); };
        },
        [](QString&) { return false; });
    QString error;
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0, error)) << error.toStdString();
    QTemporaryDir dir;
    startPrometheus(server.Port(), dir);

    auto value = [&](const QString& promql) { return query(promql).value_or(-1); };
    const QString far = QStringLiteral("host=\"10.61.4.2\",site=\"lab\"");
    const QString named = QStringLiteral("host=\"pathname.nsd.test\"");
    ASSERT_TRUE(WaitUntil(
        [&] {
            return value(QStringLiteral("netsonde_path_hops{%1}").arg(far)) == 4 &&
                   value(QStringLiteral("netsonde_path_hop_info{%1,ttl=\"3\",responder="
                                        "\"10.61.3.2\"}")
                             .arg(far)) == 1 &&
                   value(QStringLiteral("netsonde_path_name_errors_total{%1}").arg(named)) >= 1;
        },
        30000));
    // One scrape: promtool finds nothing, and the far path has the series
    // the README counts: 15 per hop, one per responder, three.
    const QByteArray metrics =
        get(QStringLiteral("http://127.0.0.1:%1/metrics").arg(server.Port()));
    lint(metrics);
    EXPECT_EQ(pathSeries(metrics, net::Far), 15 * 4 + 4 + 3) << metrics.toStdString();
    EXPECT_EQ(value(QStringLiteral("netsonde_path_changes_total{%1}").arg(far)), 0);
    EXPECT_EQ(results(QStringLiteral("netsonde_path_hop_info{%1}").arg(named)).size(), 0);

    // r3 now answers from 10.61.3.3, and the name resolves.
    ASSERT_TRUE(inNode("r3", "addr add 10.61.3.3/24 dev r3a"));
    ASSERT_TRUE(inNode("r3", "route replace default via 10.61.3.1 src 10.61.3.3"));
    point(net::Far);
    ASSERT_TRUE(WaitUntil(
        [&] {
            return value(QStringLiteral("netsonde_path_changes_total{%1}").arg(far)) == 1 &&
                   value(QStringLiteral("netsonde_path_hop_info{%1,ttl=\"3\",responder="
                                        "\"10.61.3.3\"}")
                             .arg(far)) == 1 &&
                   results(QStringLiteral("netsonde_path_hop_info{%1,ttl=\"3\",responder="
                                          "\"10.61.3.2\"}")
                               .arg(far))
                       .isEmpty() &&
                   value(QStringLiteral("netsonde_path_hops{%1}").arg(named)) == 4;
        },
        30000))
        << "changes " << value(QStringLiteral("netsonde_path_changes_total{%1}").arg(far));
    // A few more rounds on the new route change nothing.
    const std::uint64_t rounds = p.Paths()[0].stats.hopStats.at(0).requests;
    ASSERT_TRUE(
        WaitUntil([&] { return p.Paths()[0].stats.hopStats.at(0).requests >= rounds + 5; }));
    EXPECT_EQ(p.Paths()[0].stats.changes, 1u);
    EXPECT_EQ(value(QStringLiteral("netsonde_path_changes_total{%1}").arg(far)), 1);

    // The name stops resolving: errors count, the path keeps its address.
    const double errors = value(QStringLiteral("netsonde_path_name_errors_total{%1}").arg(named));
    point("");
    ASSERT_TRUE(WaitUntil(
        [&] {
            return value(QStringLiteral("netsonde_path_name_errors_total{%1}").arg(named)) > errors;
        },
        20000));
    EXPECT_EQ(p.Paths()[1].ip, QLatin1String(net::Far));
    EXPECT_GT(p.Paths()[1].stats.hopStats.size(), 0u);
}

// The prober's TCP and UDP targets on the routed test network: each kind
// of port counted by its outcome, series labelled with probe and port
// beside unchanged ICMP series, and a path watched over TCP.
#include "probe/Prober.h"

#include "echo/IcmpBinding.h"
#include "probe/ProbeConfig.h"
#include "support/EventWait.h"
#include "support/PortServices.h"
#include "support/TestNetwork.h"

#include <gtest/gtest.h>
#include <optional>

using namespace probe;
using namespace netsonde::test;

namespace {

const bool network = (RequestTestNetwork(), true);

Prober::HostView host(const Prober& p, const QString& name) {
    for (auto& h : p.Hosts())
        if (h.host == name)
            return h;
    ADD_FAILURE() << "no host " << name.toStdString();
    return {};
}

TEST(ProberPorts, CountsEachKindOfPortAndLabelsItsSeries) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    PortServices services;
    ASSERT_TRUE(services.Ready());
    IcmpBindingScope binding;
    ProbeConfig c;
    c.intervalMs = 100;
    c.timeoutMs = 300;
    c.hosts = {"tcp://far.nsd.test:7443",
               "far.nsd.test:7444",
               "tcp://10.61.4.2:7445",
               "udp://[fd00:61:4::2]:7007",
               "udp://10.61.4.2:7009",
               "far.nsd.test:7445/udp",
               net::Far};
    QStringList hosts;
    QString error;
    ASSERT_TRUE(CollectHosts(c, hosts, error)) << error.toStdString();
    EXPECT_EQ(hosts, (QStringList{"tcp://far.nsd.test:7443", "tcp://far.nsd.test:7444",
                                  "tcp://10.61.4.2:7445", "udp://[fd00:61:4::2]:7007",
                                  "udp://10.61.4.2:7009", "udp://far.nsd.test:7445", net::Far}));
    Prober p(c);
    p.SetHosts(hosts);
    ASSERT_TRUE(
        WaitUntil([&] { return host(p, "tcp://10.61.4.2:7445").stats.requests >= 6; }, 20000));
    p.Stop();
    ASSERT_TRUE(WaitUntil([&] { return p.InFlight() == 0; }, 10000));

    for (const char* answering : {"tcp://far.nsd.test:7443", "tcp://far.nsd.test:7444",
                                  "udp://[fd00:61:4::2]:7007", "udp://10.61.4.2:7009"}) {
        SCOPED_TRACE(answering);
        const HostStats s = host(p, answering).stats;
        EXPECT_GE(s.requests, 5u);
        EXPECT_EQ(s.answers, s.requests);
        EXPECT_EQ(s.state, HostState::Up);
        EXPECT_EQ(s.lastTtl, -1);
        EXPECT_LT(s.rttSum, 0.05 * static_cast<double>(s.answers));
    }
    for (const char* silent : {"tcp://10.61.4.2:7445", "udp://far.nsd.test:7445"}) {
        SCOPED_TRACE(silent);
        const HostStats s = host(p, silent).stats;
        EXPECT_EQ(s.timeouts, s.requests);
        EXPECT_EQ(s.state, HostState::Down);
        // Never two probes at once: with a time-out of three intervals,
        // each probe costs the target three turns.
        EXPECT_LE(s.requests * 3, host(p, net::Far).stats.requests + 3);
    }
    const QByteArray text = p.Metrics(false);
    const auto answers = [&](const char* labels, const QString& name) {
        return QByteArray("netsonde_answers_total{") + labels + "} " +
               QByteArray::number(host(p, name).stats.answers) + '\n';
    };
    EXPECT_TRUE(text.contains(answers(
        "host=\"far.nsd.test\",ip=\"10.61.4.2\",ip_version=\"4\",probe=\"tcp\",port=\"7443\"",
        "tcp://far.nsd.test:7443")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(answers(
        "host=\"fd00:61:4::2\",ip=\"fd00:61:4::2\",ip_version=\"6\",probe=\"udp\",port=\"7007\"",
        "udp://[fd00:61:4::2]:7007")));
    // The ICMP host's series are as they always were.
    EXPECT_TRUE(
        text.contains(answers("host=\"10.61.4.2\",ip=\"10.61.4.2\",ip_version=\"4\"", net::Far)));
    EXPECT_EQ(services.BytesReceived(), 0);
}

TEST(ProberPorts, WatchesAPathOverTcp) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    PortServices services;
    ASSERT_TRUE(services.Ready());
    IcmpBindingScope binding;
    ProbeConfig c;
    PathTarget path;
    QString error;
    ASSERT_TRUE(ParsePathTarget("far.nsd.test:7443 interval=0.2 timeout=0.3", path, error))
        << error.toStdString();
    EXPECT_EQ(path.host, "tcp://far.nsd.test:7443");
    EXPECT_FALSE(ParsePathTarget("tcp://far.nsd.test:99999", path, error));
    ASSERT_TRUE(ParsePathTarget("tcp://far.nsd.test:7443 interval=0.2 timeout=0.3", path, error));
    Prober p(c);
    p.SetPaths({path});
    ASSERT_TRUE(WaitUntil(
        [&] {
            paths::PathWatch* w = p.PathWatchForTests("tcp://far.nsd.test:7443");
            return w != nullptr && w->Distance() == 4;
        },
        20000));
    ASSERT_TRUE(WaitUntil([&] {
        return p.Metrics(false).contains(
            "netsonde_path_hops{host=\"far.nsd.test\",ip=\"10.61.4.2\","
            "ip_version=\"4\",probe=\"tcp\",port=\"7443\"} 4");
    })) << p.Metrics(false).toStdString();
    p.Stop();
}

} // namespace

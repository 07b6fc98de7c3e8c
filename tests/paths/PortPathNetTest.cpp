// The path engine over TCP and UDP probes of a port on the routed test
// network: every hop up to the service, for both families, with one probe
// at most that may reach the target in flight, and one connection attempt
// per round once the distance is known.
#include "paths/PathReport.h"
#include "paths/PathWatch.h"
#include "paths/PortEchoSender.h"

#include "support/EventWait.h"
#include "support/PortServices.h"
#include "support/TestNetwork.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace netsonde::test;
using paths::PathWatch;
using platform::ProbeKind;

namespace {

const bool network = (RequestTestNetwork(), true);

bool runRounds(PathWatch& watch, int count) {
    int ended = 0;
    QObject::connect(&watch, &PathWatch::RoundEnded, &watch, [&ended] { ++ended; });
    for (int i = 0; i < count; ++i) {
        watch.RunRound();
        if (!WaitUntil([&] { return ended == i + 1; }))
            return false;
    }
    QObject::disconnect(&watch, &PathWatch::RoundEnded, &watch, nullptr);
    return true;
}

TEST(PortPathNet, FindsEachHopUpToTheServiceOverTcpAndUdp) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    PortServices services;
    ASSERT_TRUE(services.Ready());
    struct Case {
        const char* target;
        ProbeKind kind;
        std::uint16_t port;
        std::vector<const char*> hops;
    };
    const Case cases[] = {
        {net::Far, ProbeKind::Tcp, ports::Listening, {net::R1, net::R2, net::R3, net::Far}},
        {net::Far, ProbeKind::Tcp, ports::Closed, {net::R1, net::R2, net::R3, net::Far}},
        {net::Far, ProbeKind::Udp, ports::UdpClosed, {net::R1, net::R2, net::R3, net::Far}},
        {net::Far6, ProbeKind::Tcp, ports::Listening, {net::R1_6, net::R2_6, net::R3_6, net::Far6}},
        {net::Far6, ProbeKind::Udp, ports::UdpEcho, {net::R1_6, net::R2_6, net::R3_6, net::Far6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.target) + " port " + std::to_string(c.port));
        auto sender = std::make_shared<paths::PortEchoSender>(c.kind, c.port);
        PathWatch watch(*paths::ParseTarget(QString::fromLatin1(c.target)), sender);
        watch.SetResolveNames(false);
        watch.SetTimeoutMs(500);
        const int accepted = services.Accepted();
        constexpr int Rounds = 4;
        ASSERT_TRUE(runRounds(watch, Rounds));
        const paths::PathFigures f = watch.Figures();
        const std::string report = paths::ReportText(f).toStdString();
        EXPECT_EQ(f.distance, 4) << report;
        ASSERT_EQ(f.hops.size(), c.hops.size()) << report;
        for (std::size_t i = 0; i < c.hops.size(); ++i) {
            ASSERT_EQ(f.hops[i].responders.size(), 1U) << report;
            EXPECT_EQ(f.hops[i].responders[0].address.ToString().toStdString(), c.hops[i]);
            EXPECT_EQ(f.hops[i].answered, f.hops[i].sent) << report;
        }
        EXPECT_EQ(sender->MostReachingInFlight(), 1);
        // The target met one probe a round; the routers the rest.
        EXPECT_EQ(sender->Sent(), std::uint64_t{4 * Rounds});
        if (c.port == ports::Listening) {
            EXPECT_TRUE(WaitUntil([&] { return services.Accepted() - accepted == Rounds; }))
                << services.Accepted() - accepted;
        }
    }
    EXPECT_EQ(services.BytesReceived(), 0);
}

} // namespace

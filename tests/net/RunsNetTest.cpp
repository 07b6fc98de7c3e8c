// Ping and trace runs from end to end on the routed test network, with the
// system's resolver asking the network's own DNS server; what both families
// share runs for each on datagram and on raw sockets.
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "platform/IcmpService.h"
#include "support/EventWait.h"
#include "support/IpFamily.h"
#include "support/TestNetwork.h"

#include <QWidget>
#include <gtest/gtest.h>

#include <optional>

using namespace netsonde::test;
using netsonde::test::net::Far;

namespace {

const bool network = (RequestTestNetwork(), true);

// The lines a window would show for one run: one per data event, the
// closing line, or the error.
struct Transcript {
    QStringList lines;
    QString closing;
    QString error;
    bool ended = false;
};

class RunsOnTheNetwork : public testing::Test {
protected:
    void SetUp() override {
        if (!InTestNetwork()) {
            GTEST_SKIP() << TestNetworkProblem();
        }
        binding.emplace();
        ASSERT_TRUE(IcmpAvailable());
    }
    void TearDown() override {
        delete form;
        binding.reset();
    }

    Transcript Trace(const QString& target, bool resolve, bool test, std::uint8_t hops) {
        TAxTrace trace(form);
        trace.SetResolve(resolve);
        trace.SetSendTestPacket(test);
        trace.SetTimeToLive(hops);
        trace.SetTimeOut(300);
        Transcript t;
        trace.OnData = [&](QObject*, int) { t.lines << trace.HopText(); };
        trace.OnFinished = [&](QObject*) {
            t.closing = trace.SummaryText();
            t.ended = true;
        };
        trace.OnError = [&](QObject*, int code, const QString& msg) {
            t.error = QString::number(code) + " " + msg;
            t.ended = true;
        };
        trace.Start(target);
        EXPECT_TRUE(WaitUntil([&] { return t.ended; }, 30000));
        return t;
    }

    Transcript Ping(const QString& target, bool resolve, std::uint16_t number) {
        TAxPing ping(form);
        ping.SetResolve(resolve);
        ping.SetNumber(number);
        ping.SetTimeOut(300);
        Transcript t;
        ping.OnData = [&](QObject*, int) { t.lines << ping.ReplyText(); };
        ping.OnFinished = [&](QObject*) {
            t.closing = ping.StatsText() + " | " + ping.HostName() + " | " + ping.HostAddress();
            t.ended = true;
        };
        ping.OnError = [&](QObject*, int code, const QString& msg) {
            t.error = QString::number(code) + " " + msg;
            t.ended = true;
        };
        ping.Start(target);
        EXPECT_TRUE(WaitUntil([&] { return t.ended; }, 30000));
        return t;
    }

    // Times vary; compare lines with every number after a tab masked.
    static QStringList Masked(QStringList lines) {
        for (QString& l : lines) {
            QStringList f = l.split('\t');
            if (f.size() > 1 && f[1] != "*")
                f[1] = "t";
            l = f.join('\t');
        }
        return lines;
    }

    std::optional<IcmpBindingScope> binding;
    QWidget* form = new QWidget; // owner, so that lookups run asynchronously
};

TEST_F(RunsOnTheNetwork, TraceGoesOnPastAnUnreachableReport) {
    // r2 filters the destination: hop 2 expires at r2 before its filter
    // sees it, every later hop is reported unreachable, each time.
    Transcript t = Trace(net::HostUnreachable, true, false, 5);
    const QString report = "From r2.nsd.test: Destination host unreachable";
    EXPECT_EQ(Masked(t.lines),
              (QStringList{"1\tt\tr1.nsd.test", "2\tt\tr2.nsd.test", report, report, report}));
    EXPECT_EQ(t.closing, "r2.nsd.test: Destination host unreachable");
}

TEST_F(RunsOnTheNetwork, TraceToASilentHostEndsInStarsAtTheHopLimit) {
    Transcript t = Trace("quiet.nsd.test", true, false, 6);
    EXPECT_EQ(Masked(t.lines),
              (QStringList{"1\tt\tr1.nsd.test", "2\tt\tr2.nsd.test", "3\tt\tr3.nsd.test",
                           "4\t*\ttimed out", "5\t*\ttimed out", "6\t*\ttimed out"}));
    EXPECT_EQ(t.closing, "quiet.nsd.test: Request timed out");
}

TEST_F(RunsOnTheNetwork, TestEchoOfASilentHostEndsTheTraceBeforeAnyHop) {
    Transcript t = Trace("quiet.nsd.test", false, true, 30);
    EXPECT_TRUE(t.lines.isEmpty());
    EXPECT_EQ(t.error, "11010 Request timed out");
}

TEST_F(RunsOnTheNetwork, RawSocketsWithTheSameIdentifiersNeverTakeEachOthersAnswers) {
    // Two programs whose random source gave the same numbers, like two
    // containers with the same process id: one pings a live host while the
    // other checks a silent one. Every raw socket sees the live host's
    // replies, with the numbers the checker waits for too.
    platform::linuxicmp::PreferRawSockets(true);
    platform::linuxicmp::SeedIdentifiersForTesting(42);
    TAxPing pinger(form), checker(form);
    int answered = 0, checked = -1;
    bool pingerDone = false, checkerDone = false;
    pinger.SetNumber(20);
    pinger.SetTimeOut(1000);
    pinger.OnData = [&](QObject*, int status) { answered += status == 0; };
    pinger.OnFinished = [&](QObject*) { pingerDone = true; };
    checker.SetNumber(1);
    checker.SetTimeOut(1000);
    checker.OnData = [&](QObject*, int status) { checked = status; };
    checker.OnFinished = [&](QObject*) { checkerDone = true; };
    checker.Start(net::Quiet);
    pinger.Start(Far);
    bool ended = WaitUntil([&] { return pingerDone && checkerDone; }, 30000);
    platform::linuxicmp::SeedIdentifiersForTesting(std::nullopt);
    platform::linuxicmp::PreferRawSockets(false);
    ASSERT_TRUE(ended);
    EXPECT_EQ(checked, 11010) << "the silent host stays silent";
    EXPECT_EQ(answered, 20);
}

TEST_F(RunsOnTheNetwork, UnknownNameFailsBeforeAnyEcho) {
    Transcript t = Ping("nosuch.nsd.test", false, 3);
    EXPECT_TRUE(t.lines.isEmpty());
    EXPECT_EQ(t.error, "11001 Authoritative Host not found");
}

// The runs that both families share, on datagram and on raw sockets.
template <class T> class RunsNet : public RunsOnTheNetwork {
protected:
    void SetUp() override {
        platform::linuxicmp::PreferRawSockets(T::Kind == platform::linuxicmp::SocketKind::Raw);
        RunsOnTheNetwork::SetUp();
    }
    void TearDown() override {
        RunsOnTheNetwork::TearDown();
        platform::linuxicmp::PreferRawSockets(false);
    }
};
TYPED_TEST_SUITE(RunsNet, FamiliesOnEachSocketKind);

TYPED_TEST(RunsNet, TraceByNameNamesEveryRouterAndMeetsItsPrediction) {
    const QString name = TypeParam::FarName;
    Transcript t = this->Trace(name, true, true, 30);
    EXPECT_EQ(t.error, "");
    EXPECT_EQ(this->Masked(t.lines),
              (QStringList{"1\tt\tr1.nsd.test", "2\tt\tr2.nsd.test", "3\tt\tr3.nsd.test",
                           "4\tt\t" + name + "\treached"}));
    EXPECT_EQ(t.closing, name + " reached in 4 hops. (expected: 4)");
}

TYPED_TEST(RunsNet, TraceWithoutNamesShowsAddresses) {
    const QString far = TypeParam::Far;
    Transcript t = this->Trace(far, false, false, 30);
    QStringList expected;
    for (int hop = 1; hop <= 3; ++hop)
        expected << QString::number(hop) + "\tt\t" + TypeParam::Routers[hop - 1];
    expected << "4\tt\t" + far + "\treached";
    EXPECT_EQ(this->Masked(t.lines), expected);
    EXPECT_EQ(t.closing, far + " reached in 4 hops.");
}

TYPED_TEST(RunsNet, CheckOneAndPingByNameAndByAddressWithNamesOfTheAnsweringNode) {
    const QString name = TypeParam::FarName, far = TypeParam::Far;
    Transcript check = this->Ping(name, true, 1);
    EXPECT_EQ(check.error, "");
    ASSERT_EQ(check.lines.size(), 1);
    EXPECT_TRUE(check.lines[0].startsWith("56 bytes received from " + name + ". time = "))
        << check.lines[0].toStdString();
    EXPECT_TRUE(check.closing.endsWith(" | " + name + " | " + far)) << check.closing.toStdString();

    Transcript byName = this->Ping(name, true, 3);
    ASSERT_EQ(byName.lines.size(), 3);
    for (const QString& line : byName.lines)
        EXPECT_TRUE(line.startsWith("56 bytes received from " + name + ". time = "))
            << line.toStdString();
    EXPECT_TRUE(byName.closing.startsWith("Stats: Rcvd/Sent: 3/3, Min/Avg/Max: "));
    EXPECT_TRUE(byName.closing.endsWith(" | " + name + " | " + far))
        << byName.closing.toStdString();

    Transcript byAddress = this->Ping(far, false, 4);
    ASSERT_EQ(byAddress.lines.size(), 4);
    for (const QString& line : byAddress.lines)
        EXPECT_TRUE(line.startsWith("56 bytes received from " + far + ". time = "))
            << line.toStdString();
    EXPECT_TRUE(byAddress.closing.startsWith("Stats: Rcvd/Sent: 4/4, Min/Avg/Max: "));
    EXPECT_TRUE(byAddress.closing.endsWith(" | " + name + " | " + far))
        << byAddress.closing.toStdString();
}

TYPED_TEST(RunsNet, HostWithoutAReverseNameIsPingedByItsAddress) {
    const QString noName = TypeParam::FarNoName;
    Transcript t = this->Ping(noName, false, 1);
    EXPECT_EQ(t.error, "");
    ASSERT_EQ(t.lines.size(), 1);
    EXPECT_TRUE(t.lines[0].startsWith("56 bytes received from " + noName));
    EXPECT_EQ(t.closing.section(" | ", 1), noName + " | " + noName);
}

TYPED_TEST(RunsNet, PingOfAHostBehindAnUnreachableNet) {
    Transcript t = this->Ping(TypeParam::NetUnreachable, false, 1);
    ASSERT_EQ(t.lines.size(), 1);
    EXPECT_EQ(t.lines[0], QString(TypeParam::Routers[1]) + ": Destination net unreachable");
    EXPECT_TRUE(t.closing.startsWith("Stats: Rcvd/Sent: 0/1, Min/Avg/Max: 0/0/0"));
}

// IPv6 alone: a silent net past the unreachable one, and link-local
// neighbours.
template <class T> class Runs6Net : public RunsNet<T> {};
TYPED_TEST_SUITE(Runs6Net, Ipv6OnEachSocketKind);

TYPED_TEST(Runs6Net, TraceByAddressPastUnreachableReportsAndSilence) {
    Transcript t = this->Trace(net::HostUnreachable6, false, false, 4);
    const QString report = QString("From ") + net::R2_6 + ": Destination host unreachable";
    EXPECT_EQ(this->Masked(t.lines), (QStringList{QString("1\tt\t") + net::R1_6,
                                                  QString("2\tt\t") + net::R2_6, report, report}));
    Transcript silent = this->Trace(net::Blackholed6, false, false, 3);
    EXPECT_EQ(this->Masked(silent.lines).last(), "3\t*\ttimed out");
    EXPECT_EQ(silent.closing, QString(net::Blackholed6) + ": Request timed out");
}

TYPED_TEST(Runs6Net, LinkLocalNeighbourWithItsZone) {
    Transcript t = this->Ping(net::R1LinkLocal, false, 1);
    EXPECT_EQ(t.error, "");
    ASSERT_EQ(t.lines.size(), 1);
    EXPECT_TRUE(t.lines[0].startsWith(QString("56 bytes received from ") + net::R1LinkLocal));
    Transcript trace = this->Trace("FE80:0::61:1%c0", false, true, 30);
    EXPECT_EQ(this->Masked(trace.lines),
              QStringList{QString("1\tt\t") + net::R1LinkLocal + "\treached"});
    EXPECT_EQ(trace.closing, QString(net::R1LinkLocal) + " reached in 1 hops. (expected: 1)");
}

} // namespace

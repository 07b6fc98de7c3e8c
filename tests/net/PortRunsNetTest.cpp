// Ping and Trace runs of entries that name a port, from end to end on the
// routed test network: the lines they show, their statistics, and the
// same components going back to ICMP for a plain entry.
#include "echo/EchoCodes.h"
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "support/EventWait.h"
#include "support/PortServices.h"
#include "support/TestNetwork.h"

#include <QRegularExpression>
#include <QWidget>
#include <gtest/gtest.h>

#include <optional>

using namespace netsonde::test;

namespace {

const bool network = (RequestTestNetwork(), true);

struct Transcript {
    QStringList lines;
    QString closing;
    QString error;
    bool ended = false;
};

// Times vary: every "time = N" and every number after the first tab reads t;
// the lines come back joined, one a line, as the pane shows them.
std::string Masked(QStringList lines) {
    for (QString& l : lines) {
        l.replace(QRegularExpression(QStringLiteral("time = \\d+ms")),
                  QStringLiteral("time = tms"));
        QStringList f = l.split('\t');
        if (f.size() > 1 && f[1] != "*")
            f[1] = "t";
        l = f.join('\t');
    }
    return lines.join('\n').toStdString();
}

std::string Joined(const QStringList& lines) {
    return lines.join('\n').toStdString();
}

class PortRuns : public testing::TestWithParam<TWSMode> {
protected:
    void SetUp() override {
        if (!InTestNetwork())
            GTEST_SKIP() << TestNetworkProblem();
        ASSERT_TRUE(services.Ready());
        binding.emplace();
    }
    void TearDown() override {
        delete form;
        binding.reset();
    }

    Transcript Ping(const QString& entry, std::uint16_t number, bool resolve = true) {
        TAxPing ping(form);
        ping.SetMode(GetParam());
        ping.SetResolve(resolve);
        ping.SetNumber(number);
        ping.SetTimeOut(300);
        Transcript t;
        ping.OnData = [&](QObject*, int) { t.lines << ping.ReplyText(); };
        ping.OnFinished = [&](QObject*) {
            t.closing = ping.StatsText();
            t.ended = true;
        };
        ping.OnError = [&](QObject*, int code, const QString& msg) {
            t.error = QString::number(code) + " " + msg;
            t.ended = true;
        };
        ping.Start(entry);
        EXPECT_TRUE(WaitUntil([&] { return t.ended; }, 30000));
        return t;
    }

    Transcript Trace(const QString& entry, std::uint8_t hops) {
        TAxTrace trace(form);
        trace.SetMode(GetParam());
        trace.SetResolve(true);
        trace.SetSendTestPacket(true);
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
        trace.Start(entry);
        EXPECT_TRUE(WaitUntil([&] { return t.ended; }, 30000));
        return t;
    }

    PortServices services;
    std::optional<IcmpBindingScope> binding;
    QWidget* form = new QWidget;
};

TEST_P(PortRuns, PingLinesSayWhatAnswered) {
    struct Case {
        QString entry;
        QString line;
        QString stats;
    };
    const Case cases[] = {
        {"far.nsd.test:7443", "connected to far.nsd.test:7443. time = tms", "Rcvd/Sent: 2/2"},
        {"far.nsd.test:7444", "refused by far.nsd.test:7444. time = tms", "Rcvd/Sent: 2/2"},
        {"far.nsd.test:7445", "far.nsd.test:7445: Request timed out", "Rcvd/Sent: 0/2"},
        {"far.nsd.test:7007/udp", "reply from far.nsd.test:7007/udp. time = tms", "Rcvd/Sent: 2/2"},
        {"far.nsd.test:7009/udp", "port unreachable from far.nsd.test:7009/udp. time = tms",
         "Rcvd/Sent: 2/2"},
        {"far.nsd.test:7445/udp",
         "far.nsd.test:7445/udp: Request timed out, no answer (open or filtered)",
         "Rcvd/Sent: 0/2"},
        {"[fd00:61:4::2]:7443", "connected to six.nsd.test:7443. time = tms", "Rcvd/Sent: 2/2"},
        {"six.nsd.test:7009/udp", "port unreachable from six.nsd.test:7009/udp. time = tms",
         "Rcvd/Sent: 2/2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry.toStdString());
        const Transcript t = Ping(c.entry, 2);
        EXPECT_EQ(t.error.toStdString(), "");
        EXPECT_EQ(Masked(t.lines), Joined({c.line, c.line}));
        EXPECT_TRUE(t.closing.startsWith("Stats: " + c.stats)) << t.closing.toStdString();
    }
    EXPECT_EQ(services.BytesReceived(), 0);
}

TEST_P(PortRuns, ABadPortIsAnErrorAndAPlainEntryStaysIcmp) {
    const Transcript bad = Ping("far.nsd.test:70000", 1);
    EXPECT_EQ(bad.error.toStdString(),
              (QString::number(ErrBadEntry) +
               " far.nsd.test:70000: the port after the host is a number from 1 "
               "to 65535.")
                  .toStdString());
    EXPECT_TRUE(bad.lines.isEmpty());
    const Transcript plain = Ping("far.nsd.test", 1);
    EXPECT_EQ(Masked(plain.lines), "56 bytes received from far.nsd.test. time = tms");
}

TEST_P(PortRuns, TraceOverTcpAndUdpEndsAtTheService) {
    const QStringList routers{"1\tt\tr1.nsd.test", "2\tt\tr2.nsd.test", "3\tt\tr3.nsd.test"};
    struct Case {
        QString entry;
        QString last;
        QString summary;
    };
    const Case cases[] = {
        {"far.nsd.test:7443", "4\tt\tfar.nsd.test\tconnected", "far.nsd.test reached in 4 hops."},
        {"far.nsd.test:7444", "4\tt\tfar.nsd.test\trefused", "far.nsd.test reached in 4 hops."},
        {"far.nsd.test:7009/udp", "4\tt\tfar.nsd.test\tport unreachable",
         "far.nsd.test reached in 4 hops."},
        {"six.nsd.test:7443", "4\tt\tsix.nsd.test\tconnected", "six.nsd.test reached in 4 hops."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry.toStdString());
        const Transcript t = Trace(c.entry, 8);
        EXPECT_EQ(t.error.toStdString(), "");
        EXPECT_EQ(Masked(t.lines), Joined(routers + QStringList{c.last}));
        EXPECT_EQ(t.closing.toStdString(), c.summary.toStdString());
    }
    // A dropped port: routers, then silence up to the hop limit.
    const Transcript dropped = Trace("far.nsd.test:7445", 5);
    const QStringList silence{"4\t*\ttimed out", "5\t*\ttimed out"};
    EXPECT_EQ(Masked(dropped.lines), Joined(routers + silence));
}

INSTANTIATE_TEST_SUITE_P(Modes, PortRuns, testing::Values(wsmAsync, wsmBlocking),
                         [](const testing::TestParamInfo<TWSMode>& info) {
                             return info.param == wsmAsync ? "Async" : "Blocking";
                         });

} // namespace

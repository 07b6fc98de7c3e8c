#include "probe/ProbeConfig.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace probe;

namespace {

ParseResult parse(QStringList args, ProbeConfig& config, QString& error) {
    args.prepend(QStringLiteral("netsonde-probe"));
    return ParseCommandLine(args, config, error);
}

QString write(const QTemporaryDir& dir, const char* name, const QByteArray& text) {
    QString path = dir.filePath(QString::fromLatin1(name));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    return path;
}

} // namespace

TEST(ProbeConfig, DefaultsAndOptions) {
    ProbeConfig c;
    QString error;
    ASSERT_EQ(parse({QStringLiteral("a.example")}, c, error), ParseResult::Run)
        << error.toStdString();
    EXPECT_EQ(c.intervalMs, 1000);
    EXPECT_EQ(c.listenAddress, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(c.listenPort, DefaultPort);
    EXPECT_EQ(c.family, 0);

    ASSERT_EQ(
        parse({"-i", "0.25", "--timeout", "300ms", "-s", "100", "--ttl", "9", "-6", "--listen",
               "[::1]:9100", "--label", "site=berlin", "--label", "dc=a", "h1", "h2"},
              c, error),
        ParseResult::Run)
        << error.toStdString();
    EXPECT_EQ(c.intervalMs, 250);
    EXPECT_EQ(c.timeoutMs, 300);
    EXPECT_EQ(c.packetSize, 100);
    EXPECT_EQ(c.ttl, 9);
    EXPECT_EQ(c.family, 6);
    EXPECT_EQ(c.listenAddress, QStringLiteral("::1"));
    EXPECT_EQ(c.listenPort, 9100);
    ASSERT_EQ(c.labels.size(), 2u);
    EXPECT_EQ(c.labels[0], std::make_pair(QStringLiteral("site"), QStringLiteral("berlin")));
    EXPECT_EQ(c.hosts, (QStringList{"h1", "h2"}));

    // The state thresholds, which a config file can set too.
    ASSERT_EQ(parse({"--down-after", "5", "--up-after", "1", "--rtt-limit", "250ms",
                     "--baseline-factor", "4", "--loss-window", "50", "--loss-percent", "0"},
                    c, error),
              ParseResult::Run)
        << error.toStdString();
    EXPECT_EQ(c.downAfter, 5);
    EXPECT_EQ(c.upAfter, 1);
    EXPECT_EQ(c.rttLimitMs, 250);
    EXPECT_EQ(c.baselineFactor, 4);
    EXPECT_EQ(c.lossWindow, 50);
    EXPECT_EQ(c.lossPercent, 0);
}

TEST(ProbeConfig, BadValuesAreRefusedWithTheirName) {
    ProbeConfig c;
    QString error;
    for (QStringList args :
         {QStringList{"-i", "0"}, QStringList{"-i", "nan"}, QStringList{"--ttl", "256"},
          QStringList{"--label", "host=x"}, QStringList{"--label", "__x=1"},
          QStringList{"--label", "a-b=1"}, QStringList{"--listen", "::1:80"},
          QStringList{"--down-after", "0"}, QStringList{"--baseline-factor", "1"},
          QStringList{"--loss-percent", "101"}, QStringList{"--listen", "x:80"},
          QStringList{"-4", "-6"}, QStringList{"--bogus"}}) {
        error.clear();
        EXPECT_EQ(parse(args, c, error), ParseResult::Error) << args.join(' ').toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(ProbeConfig, CommandLineWinsOverConfigFileAndLabelsMerge) {
    QTemporaryDir dir;
    QString path = write(dir, "probe.conf",
                         "# probe\ninterval = 5\nttl = 20\nlabel = site=paris\nlabel = "
                         "rack=7\nhost = from-file\n\nlisten = 0.0.0.0:9999\n");
    ProbeConfig c;
    QString error;
    ASSERT_EQ(parse({"--config", path, "--ttl", "30", "--label", "site=berlin", "arg"}, c, error),
              ParseResult::Run)
        << error.toStdString();
    EXPECT_EQ(c.intervalMs, 5000);
    EXPECT_EQ(c.ttl, 30);
    EXPECT_EQ(c.listenPort, 9999);
    ASSERT_EQ(c.labels.size(), 2u);
    EXPECT_EQ(c.labels[0].second, QStringLiteral("berlin"));
    EXPECT_EQ(c.hosts, (QStringList{"arg", "from-file"}));

    QString bad = write(dir, "bad.conf", "interval = 1\nnonsense\n");
    EXPECT_EQ(parse({"--config", bad}, c, error), ParseResult::Error);
    EXPECT_TRUE(error.contains(QStringLiteral("line 2"))) << error.toStdString();
    EXPECT_EQ(parse({"--config", dir.filePath("missing.conf")}, c, error), ParseResult::Error);
}

TEST(ProbeConfig, HostsComeFromArgumentsListsAndSessionsWithoutRepeats) {
    QTemporaryDir dir;
    QString list = write(dir, "hosts.net", "10.0.0.1\r\n\r\n  b.example \r\na.example\r\n");
    QString session = write(dir, "s.nsd", "[a.example]\r\n0==\r\n[10.0.0.9]\r\n1=line\r\n");
    ProbeConfig c;
    QString error;
    ASSERT_EQ(parse({"--hosts", list, "--session", session, "a.example"}, c, error),
              ParseResult::Run);
    QStringList hosts;
    ASSERT_TRUE(CollectHosts(c, hosts, error)) << error.toStdString();
    EXPECT_EQ(hosts, (QStringList{"a.example", "10.0.0.1", "b.example", "10.0.0.9"}));

    c.hostsFile = dir.filePath(QStringLiteral("missing.net"));
    EXPECT_FALSE(CollectHosts(c, hosts, error));
    EXPECT_FALSE(error.isEmpty());
}

// "--path" and "path" lines: the host, then settings of its own over the
// defaults; the command line's paths first, repeats dropped; every bad
// value refused with the setting and what it takes.
TEST(ProbeConfig, PathsTakeSettingsOfTheirOwnOverTheDefaults) {
    QTemporaryDir dir;
    QString path = write(dir, "probe.conf",
                         "path-interval = 20\npath = from-file max-ttl=12\n"
                         "path = cli.example interval=1\n");
    ProbeConfig c;
    QString error;
    ASSERT_EQ(parse({"--config", path, "--path", "cli.example timeout=250ms interval=2", "--path",
                     "10.0.0.1", "--path-max-ttl", "40", "--path-timeout", "0.5"},
                    c, error),
              ParseResult::Run)
        << error.toStdString();
    ASSERT_EQ(c.paths.size(), 3u);
    EXPECT_EQ(c.paths[0], (PathTarget{"cli.example", 2000, 0, 250}));
    EXPECT_EQ(c.paths[1], (PathTarget{"10.0.0.1", 0, 0, 0}));
    EXPECT_EQ(c.paths[2], (PathTarget{"from-file", 0, 12, 0}));
    EXPECT_EQ(c.Effective(c.paths[1]), (PathTarget{"10.0.0.1", 20'000, 40, 500}));
    EXPECT_EQ(c.Effective(c.paths[2]), (PathTarget{"from-file", 20'000, 12, 500}));
    EXPECT_TRUE(c.hosts.isEmpty());

    ASSERT_EQ(parse({"--path", "a"}, c, error), ParseResult::Run);
    EXPECT_EQ(c.Effective(c.paths[0]), (PathTarget{"a", 10'000, 30, 1000}));

    struct Bad {
        QStringList args;
        const char* says;
    };
    for (const Bad& bad : std::vector<Bad>{
             {{"--path", "a interval=0.1"}, "interval=0.1: expected seconds from 0.2 to 60"},
             {{"--path", "a interval=61"}, "expected seconds from 0.2 to 60"},
             {{"--path", "a max-ttl=65"}, "max-ttl=65: expected 1 to 64"},
             {{"--path", "a max-ttl=0"}, "expected 1 to 64"},
             {{"--path", "a timeout=10ms"}, "timeout=10ms: expected seconds from 0.05 to 60"},
             {{"--path", "a ttl=3"}, "ttl=3: unknown path setting"},
             {{"--path", "a interval"}, "interval: expected interval=, max-ttl= or timeout="},
             {{"--path", "max-ttl=3"}, "the host comes first"},
             {{"--path", " "}, "expected HOST [interval=SECONDS]"},
             {{"--path-interval", "0"}, "invalid path-interval \"0\""},
             {{"--path-max-ttl", "100"}, "invalid path-max-ttl \"100\": expected 1 to 64"},
             {{"--path-timeout", "x"}, "invalid path-timeout \"x\""},
         }) {
        error.clear();
        EXPECT_EQ(parse(bad.args, c, error), ParseResult::Error)
            << bad.args.join(' ').toStdString();
        EXPECT_TRUE(error.contains(QString::fromUtf8(bad.says))) << error.toStdString();
    }
    QString badFile = write(dir, "bad.conf", "host = a\npath = b max-ttl=x\n");
    EXPECT_EQ(parse({"--config", badFile}, c, error), ParseResult::Error);
    EXPECT_EQ(error, badFile + QStringLiteral(": line 2: invalid path \"b max-ttl=x\": max-ttl=x: "
                                              "expected 1 to 64"));
}

// The labels "probe" and "port" are the prober's own only on the series of
// targets that name a port: a configuration without such targets keeps
// them, one with such a target (a host or a path) is told to rename them.
TEST(ProbeConfig, PortLabelsClashOnlyWithTargetsThatNameAPort) {
    struct Case {
        QStringList arguments;
        bool taken;
    } cases[] = {
        {{"--label", "port=uplink", "--label", "probe=a", "far"}, true},
        {{"--label", "port=uplink", "far", "tcp://far:443"}, false},
        {{"--label", "probe=a", "far", "--path", "far:53/udp"}, false},
        {{"--label", "site=x", "far", "tcp://far:443"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        ProbeConfig config;
        QString error;
        ASSERT_EQ(parse(c.arguments, config, error), ParseResult::Run) << error.toStdString();
        QStringList hosts;
        EXPECT_EQ(CollectHosts(config, hosts, error), c.taken);
        EXPECT_EQ(error.isEmpty(), c.taken) << error.toStdString();
    }
}

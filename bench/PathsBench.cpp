// The path engine on the routed test network, against Debian's mtr-tiny on
// the same paths in the same run:
//   1. CPU time per hop probe: 100 paths watched at one round a second for
//      SECONDS seconds (default 60) in this process, against 100
//      `mtr -n --raw -c SECONDS -i 1` processes over the same targets
//      (their CPU time from the kernel's accounting of children, their
//      probes counted from the raw output's transmit lines). Every route
//      change the 100 paths report there is a false one: the routes stand
//      still.
//   2. A route switched on r1 mid-run (a shortcut link from r1 to r3 taken
//      with `ip route replace`, then given up): the rounds until the change
//      is reported, both ways.
//   3. r2 limiting its Time Exceeded reports with an nft rule while the far
//      host answers everything: r2's own loss against the forwarded loss.
// Medians of three for the first part. Needs root (it builds the network).
// Usage: bench_paths [SECONDS]
#include "paths/Address.h"
#include "paths/EchoSender.h"
#include "paths/PathWatch.h"
#include "support/TestNetwork.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using netsonde::test::NodeNamespace;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for ms milliseconds.
void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool shell(const std::string& command) {
    const int rc = std::system(command.c_str());
    if (rc != 0)
        std::fprintf(stderr, "failed (%d): %s\n", rc, command.c_str());
    return rc == 0;
}

// The 100 targets: the far host's addresses that answer echo.
std::vector<std::string> targets() {
    std::vector<std::string> answering = {"10.61.4.2", "10.61.4.3"};
    for (int i = 10; i <= 250; i += 10)
        answering.push_back("10.61.10." + std::to_string(i));
    std::vector<std::string> all;
    for (std::size_t i = 0; all.size() < 100; ++i)
        all.push_back(answering[i % answering.size()]);
    return all;
}

struct Figures {
    double cpu = 0;
    double probes = 0;
    int changes = 0;
};

Figures ours(const std::vector<std::string>& to, int seconds) {
    auto sender = std::make_shared<paths::AsyncEchoSender>();
    std::vector<std::unique_ptr<paths::PathWatch>> watches;
    Figures f;
    for (const std::string& t : to) {
        auto target = paths::ParseTarget(QString::fromStdString(t));
        auto w = std::make_unique<paths::PathWatch>(*target, sender);
        w->SetResolveNames(false);
        QObject::connect(w.get(), &paths::PathWatch::RouteChanged, [&f] { ++f.changes; });
        watches.push_back(std::move(w));
    }
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    for (auto& w : watches)
        w->Start();
    spin(seconds * 1000);
    for (auto& w : watches)
        w->Pause();
    // The last round's answers.
    spin(1100);
    f.cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
    for (auto& w : watches)
        for (const paths::HopFigures& h : w->Figures().hops)
            f.probes += static_cast<double>(h.sent);
    return f;
}

Figures mtr(const std::vector<std::string>& to, int seconds) {
    Figures f;
    char folder[] = "/tmp/bench-paths-XXXXXX";
    if (!mkdtemp(folder))
        return f;
    const double cpu0 = cpuSeconds(RUSAGE_CHILDREN);
    std::vector<pid_t> children;
    const std::string count = std::to_string(seconds);
    for (std::size_t i = 0; i < to.size(); ++i) {
        const std::string out = std::string(folder) + "/" + std::to_string(i);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        const char* argv[] = {"mtr", "-n", "--raw",       "-c",   count.c_str(),
                              "-i",  "1",  to[i].c_str(), nullptr};
        pid_t pid = 0;
        if (posix_spawnp(&pid, "mtr", &actions, nullptr, const_cast<char**>(argv), environ) == 0)
            children.push_back(pid);
        posix_spawn_file_actions_destroy(&actions);
    }
    for (pid_t pid : children)
        waitpid(pid, nullptr, 0);
    f.cpu = cpuSeconds(RUSAGE_CHILDREN) - cpu0;
    for (std::size_t i = 0; i < to.size(); ++i) {
        std::ifstream in(std::string(folder) + "/" + std::to_string(i));
        for (std::string line; std::getline(in, line);)
            if (line.rfind("x ", 0) == 0)
                ++f.probes;
    }
    shell(std::string("rm -rf ") + folder);
    return f;
}

// The rounds that started after switchMs until w reported its route
// changed (the deciding round included), or -1 when none did within limit
// rounds.
int roundsUntilChange(paths::PathWatch& w, qint64 switchMs, int limit) {
    int rounds = 0;
    int decided = -1;
    QEventLoop loop;
    auto a = QObject::connect(&w, &paths::PathWatch::RoundEnded, [&] {
        if (++rounds >= limit)
            loop.quit();
    });
    auto b =
        QObject::connect(&w, &paths::PathWatch::RouteChanged, [&](const paths::RouteChange& c) {
            decided = static_cast<int>((c.timeMs - switchMs) / w.IntervalMs()) + 1;
            loop.quit();
        });
    loop.exec();
    QObject::disconnect(a);
    QObject::disconnect(b);
    return decided;
}

// Runs rounds of w until count more have ended.
void waitRounds(paths::PathWatch& w, std::uint64_t count) {
    const std::uint64_t until = w.Figures().rounds + count;
    while (w.Figures().rounds < until)
        spin(50);
}

void routeSwitch() {
    const std::string r1 = NodeNamespace("r1"), r3 = NodeNamespace("r3");
    if (!shell("ip link add sc1 netns " + r1 + " type veth peer name sc3 netns " + r3) ||
        !shell("ip -n " + r1 + " addr add 10.61.11.1/24 dev sc1 && ip -n " + r1 +
               " link set sc1 up") ||
        !shell("ip -n " + r3 + " addr add 10.61.11.2/24 dev sc3 && ip -n " + r3 +
               " link set sc3 up") ||
        !shell("ip -n " + r3 + " route add 10.61.1.0/24 via 10.61.11.1"))
        return;
    auto target = paths::ParseTarget(QStringLiteral("10.61.4.2"));
    paths::PathWatch w(*target);
    w.SetResolveNames(false);
    w.SetIntervalMs(500);
    w.Start();
    // A stable route first.
    while (w.StableRoute().size() < 4 || w.Figures().rounds < 6)
        spin(100);
    shell("ip -n " + r1 + " route replace 10.61.4.0/24 via 10.61.11.2");
    const int there = roundsUntilChange(w, QDateTime::currentMSecsSinceEpoch(), 20);
    // Back only once the new route has stood long enough not to be a flap.
    waitRounds(w, paths::RouteTracker::SettleRounds + 2);
    shell("ip -n " + r1 + " route del 10.61.4.0/24");
    const int back = roundsUntilChange(w, QDateTime::currentMSecsSinceEpoch(), 20);
    w.Pause();
    shell("ip -n " + r1 + " link del sc1");
    std::printf("%-52s %d rounds, and %d back (target <= 2) %s\n",
                "route switched on r1 mid-run: reported after", there, back,
                there > 0 && there <= 2 && back > 0 && back <= 2 ? "ok" : "MISSED");
}

void rateLimited() {
    const std::string r2 = NodeNamespace("r2");
    if (!shell("ip netns exec " + r2 +
               " nft -f - <<'EOF'\n"
               "table inet benchlimit {\n"
               "  chain out { type filter hook output priority 0;\n"
               "    icmp type time-exceeded limit rate over 2/second drop\n"
               "  }\n"
               "}\n"
               "EOF"))
        return;
    auto target = paths::ParseTarget(QStringLiteral("10.61.4.2"));
    paths::PathWatch w(*target);
    w.SetResolveNames(false);
    w.SetIntervalMs(200);
    w.Start();
    while (w.Figures().rounds < 100)
        spin(100);
    w.Pause();
    shell("ip netns exec " + r2 + " nft delete table inet benchlimit");
    const paths::PathFigures f = w.Figures();
    if (f.hops.size() < 4) {
        std::printf("rate-limited router: the path has %zu hops, not 4\n", f.hops.size());
        return;
    }
    const paths::HopFigures& h2 = f.hops[1];
    const paths::HopFigures& dest = f.hops.back();
    std::printf("%-52s own loss %5.1f %%, forwarded %4.1f %% (target 0.0) %s\n",
                "r2 limiting its Time Exceeded to 2/s, 100 rounds:", h2.recentLossPercent,
                h2.forwardedLossPercent, h2.forwardedLossPercent == 0.0 ? "ok" : "MISSED");
    std::printf("%-52s loss %5.1f %%, forwarded %4.1f %%\n",
                "  the far host in the same rounds:", dest.recentLossPercent,
                dest.forwardedLossPercent);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
    netsonde::test::RequestTestNetwork();
    netsonde::test::EnterRequestedTestNetwork();
    QCoreApplication app(argc, argv);
    if (!netsonde::test::InTestNetwork()) {
        std::fprintf(stderr, "no test network: %s\n", netsonde::test::TestNetworkProblem().c_str());
        return 1;
    }
    if (std::system("command -v mtr >/dev/null") != 0) {
        std::fprintf(stderr, "mtr is missing: apt-get install mtr-tiny\n");
        return 1;
    }
    const std::vector<std::string> to = targets();
    std::vector<double> ourCpu, mtrCpu, ourProbes, mtrProbes;
    int falseChanges = 0;
    for (int round = 0; round < 3; ++round) {
        const Figures a = ours(to, seconds);
        const Figures b = mtr(to, seconds);
        ourCpu.push_back(a.cpu / a.probes * 1e6);
        mtrCpu.push_back(b.cpu / b.probes * 1e6);
        ourProbes.push_back(a.probes);
        mtrProbes.push_back(b.probes);
        falseChanges += a.changes;
        std::printf("  round %d: ours %.0f probes in %.2f s CPU, mtr %.0f probes in %.2f s CPU\n",
                    round + 1, a.probes, a.cpu, b.probes, b.cpu);
    }
    const double ratio = median(ourCpu) / median(mtrCpu);
    std::printf("%-52s ours %7.2f us   mtr %7.2f us   ratio %5.2f (target <= 1) %s\n",
                "CPU per hop probe, 100 paths at 1 round/s:", median(ourCpu), median(mtrCpu), ratio,
                ratio <= 1.0 ? "ok" : "MISSED");
    std::printf("%-52s %d in 3 x %d s x 100 paths (target 0) %s\n",
                "route changes reported on standing routes:", falseChanges, seconds,
                falseChanges == 0 ? "ok" : "MISSED");
    routeSwitch();
    rateLimited();
    netsonde::test::LeaveTestNetwork();
    return 0;
}

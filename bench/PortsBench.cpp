// TCP probes against ICMP echo and against Debian's tcptraceroute, on the
// routed test network, each figure the median of three rounds that
// alternate between the two sides:
//   1. the process's CPU time per probe of a Ping of 1000 TCP probes to a
//      port of the far host that a service (a process of its own) accepts,
//      against a Ping of 1000 ICMP echoes to the same host;
//   2. Check All over the 254 addresses of the far host's 10.61.10.0/24 on
//      TCP port 443, which nft drops there, against Check All of the same
//      addresses with ICMP echo, which nft drops too (time-out 1000 ms);
//   3. a TCP trace to the far host's service by this program run as nobody,
//      without any capability and with ICMP datagram sockets refused to
//      its group, against `tcptraceroute -n -q 1` run as root, the hops of
//      both compared: ours from the Trace button's start of the run to its
//      summary, as a user of the running program waits for it, and as a
//      whole process with the toolkit's start-up; theirs as the command.
// A set-up step that fails names itself on stderr and the benchmark exits
// with 1.
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "runs/RunController.h"
#include "support/TestNetwork.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QWidget>

#include <csignal>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr const char* FarPort = "7443";

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// User and system CPU seconds of the process so far.
struct Cpu {
    double user = 0;
    double system = 0;
};

Cpu cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return {static_cast<double>(u.ru_utime.tv_sec) + static_cast<double>(u.ru_utime.tv_usec) / 1e6,
            static_cast<double>(u.ru_stime.tv_sec) + static_cast<double>(u.ru_stime.tv_usec) / 1e6};
}

void report(const char* what, double ours, double reference, const char* unit,
            const char* referenceName, double target) {
    const double ratio = ours / reference;
    std::printf("%-44s ours %9.3f %s   %s %9.3f %s   ratio %5.2f  (target <= %.1f) %s\n", what,
                ours, unit, referenceName, reference, unit, ratio, target,
                ratio <= target ? "ok" : "MISSED");
    std::fflush(stdout);
}

// The far host's service, ended by its pid also when a step fails.
pid_t servicePid = 0;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "set-up failed: %s\n", what.c_str());
    if (servicePid > 0)
        ::kill(servicePid, SIGTERM);
    // Out at once: the application and its objects are still alive.
    std::fflush(stdout);
    std::_Exit(1);
}

std::string inFar() {
    return "ip netns exec " + netsonde::test::NodeNamespace("far") + " ";
}

// A service on the far host in a process of its own, so that its work is
// not counted as ours: accepts and closes every connection.
class Service {
public:
    Service() {
        const std::string command = inFar() +
                                    "python3 -c 'import socket\n"
                                    "s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)\n"
                                    "s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
                                    "s.bind((\"0.0.0.0\", " +
                                    std::string(FarPort) +
                                    "))\n"
                                    "s.listen(4096)\n"
                                    "open(\"/tmp/netsonde-bench-ports.ready\", \"w\").close()\n"
                                    "while True:\n"
                                    "    c, _ = s.accept()\n"
                                    "    c.close()\n' & echo $! > /tmp/netsonde-bench-ports.pid";
        std::remove("/tmp/netsonde-bench-ports.ready");
        if (std::system(command.c_str()) != 0)
            fail("the service on the far host");
        std::ifstream("/tmp/netsonde-bench-ports.pid") >> pid;
        servicePid = pid;
        for (int i = 0; i < 500 && !std::ifstream("/tmp/netsonde-bench-ports.ready"); ++i)
            ::usleep(10'000);
        if (!std::ifstream("/tmp/netsonde-bench-ports.ready"))
            fail("the service did not start");
    }
    ~Service() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
            servicePid = 0;
        }
    }

private:
    pid_t pid = 0;
};

// CPU seconds per probe of a Ping of count probes to entry, user and system.
// The system time includes the test network's own forwarding and answering,
// which the kernel does on the sender's time: a TCP check is four packets
// through every hop (SYN, SYN-ACK, ACK, reset), an echo two.
Cpu cpuPerProbe(const QString& entry, int count, int& answered) {
    QWidget form;
    TAxPing ping(&form);
    ping.SetNumber(static_cast<std::uint16_t>(count));
    ping.SetTimeOut(1000);
    QEventLoop loop;
    answered = 0;
    ping.OnData = [&](QObject*, int status) { answered += status == 0; };
    ping.OnFinished = [&](QObject*) { loop.quit(); };
    ping.OnError = [&](QObject*, int, const QString&) { loop.quit(); };
    const Cpu before = cpuSeconds();
    ping.Start(entry);
    if (ping.Busy())
        loop.exec();
    const Cpu after = cpuSeconds();
    return {(after.user - before.user) / count, (after.system - before.system) / count};
}

void benchCpu() {
    constexpr int Count = 1000;
    std::vector<double> ours, reference, oursUser, referenceUser;
    int tcpAnswered = 0, icmpAnswered = 0;
    for (int round = 0; round < 3; ++round) {
        int tcp = 0, icmp = 0;
        const Cpu t = cpuPerProbe(QStringLiteral("10.61.4.2:%1").arg(FarPort), Count, tcp);
        const Cpu i = cpuPerProbe(QStringLiteral("10.61.4.2"), Count, icmp);
        // The namespaces' links drop a packet now and then when the machine
        // is busy; a check that timed out costs no more CPU than one that
        // answered, but many would say something is wrong.
        if (tcp < Count * 98 / 100 || icmp < Count * 98 / 100)
            fail("answers: tcp " + std::to_string(tcp) + ", icmp " + std::to_string(icmp));
        tcpAnswered += tcp;
        icmpAnswered += icmp;
        ours.push_back((t.user + t.system) * 1e6);
        reference.push_back((i.user + i.system) * 1e6);
        oursUser.push_back(t.user * 1e6);
        referenceUser.push_back(i.user * 1e6);
    }
    report("CPU per TCP check (connect, reset)", median(ours), median(reference), "us", "ICMP echo",
           2.0);
    std::printf("%-44s ours %9.3f us   ICMP echo %9.3f us\n", "  of which in user space",
                median(oursUser), median(referenceUser));
    std::printf("%-44s ours %d/%d   ICMP echo %d/%d\n", "  answered", tcpAnswered, 3 * Count,
                icmpAnswered, 3 * Count);
}

class Entries : public runs::EntryList {
public:
    QStringList items;
    int selected = -1;
    int Count() const override { return static_cast<int>(items.size()); }
    QString Item(int index) const override { return items.at(index); }
    QStringList Items() const override { return items; }
    int Selected() const override { return selected; }
    void Select(int index) override { selected = index; }
};

double checkAll(const QString& suffix) {
    Entries entries;
    for (int host = 1; host <= 254; ++host)
        entries.items << QStringLiteral("10.61.10.%1%2").arg(host).arg(suffix);
    entries.selected = 0;
    QWidget host;
    runs::RunController runs(entries, &host);
    runs.Ping()->SetTimeOut(1000);
    runs.Trace()->SetTimeOut(1000);
    QEventLoop loop;
    QObject::connect(&runs, &runs::RunController::CheckAllEnds, &loop, &QEventLoop::quit);
    QElapsedTimer t;
    t.start();
    runs.CheckAll();
    if (runs.InCheckAll())
        loop.exec();
    return t.nsecsElapsed() / 1e9;
}

void benchSilentNet() {
    if (std::system((inFar() + "nft -f - <<'EOF'\ntable ip benchsilent {\n chain input {\n"
                               "  type filter hook input priority -10;\n"
                               "  ip daddr 10.61.10.0/24 tcp dport 443 drop\n"
                               "  ip daddr 10.61.10.0/24 icmp type echo-request drop\n }\n}\nEOF")
                        .c_str()) != 0)
        fail("nft in the far host");
    std::vector<double> ours, reference;
    for (int round = 0; round < 3; ++round) {
        ours.push_back(checkAll(QStringLiteral(":443")));
        reference.push_back(checkAll(QString()));
    }
    (void)std::system((inFar() + "nft delete table ip benchsilent").c_str());
    report("Check All, silent /24 on TCP port 443", median(ours), median(reference), "s", "ICMP",
           1.1);
}

struct Run {
    double seconds = 0;
    std::string output;
};

Run runProcess(const std::string& command) {
    QElapsedTimer t;
    t.start();
    Run r;
    FILE* out = ::popen(command.c_str(), "r");
    if (out == nullptr)
        fail(command);
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, out) != nullptr)
        r.output += buffer;
    const int status = ::pclose(out);
    r.seconds = t.nsecsElapsed() / 1e9;
    if (status != 0)
        fail(command + ": " + r.output);
    return r;
}

// The addresses of the hops, one per line that names one, in order.
std::vector<std::string> hopsOf(const std::string& text) {
    std::vector<std::string> hops;
    static const QRegularExpression hop(
        QStringLiteral("^\\s*\\d+\\s+(?:\\d+\\s+)?(\\d+\\.\\d+\\.\\d+\\.\\d+)"),
        QRegularExpression::MultilineOption);
    auto it = hop.globalMatch(QString::fromStdString(text));
    while (it.hasNext())
        hops.push_back(it.next().captured(1).toStdString());
    return hops;
}

// The microseconds the child's trace took, from its "trace took" line.
double traceMicros(const std::string& output) {
    static const QRegularExpression took(QStringLiteral("^trace took (\\d+) us$"),
                                         QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = took.match(QString::fromStdString(output));
    if (!m.hasMatch())
        fail("no time in the trace's output: " + output);
    return m.captured(1).toDouble();
}

void benchTrace(const char* self) {
    const char* range = "/proc/sys/net/ipv4/ping_group_range";
    std::string before;
    std::getline(std::ifstream(range), before);
    std::ofstream(range) << "1 0\n";
    const std::string ours = std::string("setpriv --reuid=65534 --regid=65534 --clear-groups "
                                         "--inh-caps=-all --bounding-set=-all ") +
                             self + " --trace 10.61.4.2:" + FarPort;
    const std::string theirs = std::string("tcptraceroute -n -q 1 10.61.4.2 ") + FarPort;
    std::vector<double> oursTrace, oursProcess, theirProcess;
    Run o, t;
    for (int round = 0; round < 3; ++round) {
        o = runProcess(ours + " 2>/dev/null");
        t = runProcess(theirs + " 2>/dev/null");
        oursTrace.push_back(traceMicros(o.output) / 1e3);
        oursProcess.push_back(o.seconds * 1e3);
        theirProcess.push_back(t.seconds * 1e3);
    }
    std::ofstream(range) << before << "\n";
    std::printf("our trace, as nobody:\n%s", o.output.c_str());
    std::printf("tcptraceroute, as root:\n%s", t.output.c_str());
    const bool same = hopsOf(o.output) == hopsOf(t.output) && hopsOf(o.output).size() == 4;
    std::printf("%-44s %s\n", "same hops", same ? "yes" : "NO");
    report("TCP trace, Trace button to summary", median(oursTrace), median(theirProcess), "ms",
           "tcptraceroute", 0.5);
    report("TCP trace, whole process with Qt start-up", median(oursProcess), median(theirProcess),
           "ms", "tcptraceroute", 0.5);
}

// The child of benchTrace: a TCP trace as the Trace button runs it, its
// lines printed as the pane shows them. It binds no ICMP service: nobody
// may have none, and a port's trace needs none.
int traceChild(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget form;
    TAxTrace trace(&form);
    trace.SetSendTestPacket(true);
    trace.SetTimeToLive(30);
    trace.SetTimeOut(1000);
    QEventLoop loop;
    int status = 1;
    trace.OnData = [&](QObject*, int) { std::printf("%s\n", qPrintable(trace.HopText())); };
    QElapsedTimer took;
    trace.OnFinished = [&](QObject*) {
        const qint64 us = took.nsecsElapsed() / 1000;
        std::printf("%s\ntrace took %lld us\n", qPrintable(trace.SummaryText()),
                    static_cast<long long>(us));
        status = 0;
        loop.quit();
    };
    trace.OnError = [&](QObject*, int code, const QString& message) {
        std::printf("Error %d: %s\n", code, qPrintable(message));
        loop.quit();
    };
    took.start();
    trace.Start(QString::fromLatin1(argv[2]));
    if (trace.Busy())
        loop.exec();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && std::strcmp(argv[1], "--trace") == 0)
        return traceChild(argc, argv);
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 2;
    netsonde::test::RequestTestNetwork();
    netsonde::test::EnterRequestedTestNetwork();
    if (!netsonde::test::InTestNetwork()) {
        std::fprintf(stderr, "no test network: %s\n", netsonde::test::TestNetworkProblem().c_str());
        return 2;
    }
    {
        QApplication app(argc, argv);
        IcmpBindingScope binding;
        Service service;
        benchCpu();
        benchSilentNet();
        benchTrace(self);
    }
    netsonde::test::LeaveTestNetwork();
    return 0;
}

// Speed of whole runs through the echo components against the system's own
// tools, measured in the same run on the same network:
//   1. a ping of 1000 echoes to 127.0.0.1 against `ping -c 1000 -i 0 -q`,
//      once on a quiet machine and once while two busy-loop processes that
//      the benchmark starts and stops itself load both cores;
//   2. a trace to the farthest host of the test network against
//      `traceroute -I -n -q 1`;
//   3. 254 one-echo runs for 127.0.0.1 … 127.0.0.254, one after the other,
//      against a loop of 254 `ping -c 1 -W 1` processes;
//   4. the same in IPv6: 1000 echoes to ::1 against `ping -6` (quiet and
//      loaded), a trace to the farthest IPv6 host against
//      `traceroute -6 -I -n -q 1`, and 254 one-echo runs to 254 IPv6 addresses of the far host's
//      namespace against the same runs to 254 IPv4 addresses there.
//   5. 1000 echoes to 127.0.0.1 and to ::1 on the raw path through the echo
//      broker, as a member of the broker's group where datagram ICMP is
//      refused, against the same `ping` runs;
//   6. the round trips reported to the far host while two busy loops load
//      both cores (the event-loop path of the path watch and the prober),
//      their median and 95th percentile against iputils' on the same host.
// A set-up step that fails names itself on stderr and the benchmark exits
// with 1.
// Prints each figure and the ratio ours / reference, and for the ping the
// same run with one fresh thread per echo, as the workers once were (rows
// for comparison only, without a target).
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "echo/TPingThread.h"
#include "platform/AsyncEcho.h"
#include "platform/IcmpService.h"
#include "platform/RawIcmpSockets.h"
#include "support/TestNetwork.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <arpa/inet.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using netsonde::test::net::Far;
using netsonde::test::net::Far6;
using platform::AsyncEcho;

namespace {

double seconds(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Wall time of a shell command, output discarded.
double timeCommand(const std::string& command) {
    QElapsedTimer t;
    t.start();
    int rc = std::system((command + " >/dev/null 2>&1").c_str());
    double s = seconds(t);
    if (rc != 0)
        std::fprintf(stderr, "reference command failed (%d): %s\n", rc, command.c_str());
    return s;
}

// Makes the run's end quit the event loop; the component's own handlers
// run first.
void quitOnEnd(TAxIcmpTask& task, QEventLoop& loop) {
    TNotifyEvent finished = task.OnFinished;
    task.OnFinished = [finished, &loop](QObject* s) {
        if (finished)
            finished(s);
        loop.quit();
    };
    TError error = task.OnError;
    task.OnError = [error, &loop](QObject* s, int code, const QString& msg) {
        if (error)
            error(s, code, msg);
        std::fprintf(stderr, "run failed: %d %s\n", code, qPrintable(msg));
        loop.quit();
    };
}

// Starts runs of one component and runs the window thread's event loop
// until each has ended (finished or failed).
class RunDriver {
public:
    explicit RunDriver(TAxIcmpTask& task) : FTask(task) { quitOnEnd(task, FLoop); }
    void Run(const QString& target) {
        FTask.Start(target);
        if (FTask.Busy())
            FLoop.exec();
    }

private:
    TAxIcmpTask& FTask;
    QEventLoop FLoop;
};

// A ping component that counts the echoes its destination answered.
void countAnswers(TAxPing& ping, std::uint16_t number, int& answered) {
    ping.SetNumber(number);
    ping.SetTimeOut(1000);
    ping.OnData = [&answered](QObject*, int status) { answered += status == 0; };
}

// The floor that one worker thread per echo sets on this machine: starting
// and ending an empty thread.
double threadStartMicroseconds() {
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 2000; ++i)
        std::thread([] {}).join();
    return seconds(t) / 2000 * 1e6;
}

void report(const char* what, double ours, double reference, const char* unit, double target) {
    double ratio = ours / reference;
    std::printf("%-44s ours %10.3f %s   reference %10.3f %s   ratio %6.2f  (target <= %.1f) %s\n",
                what, ours, unit, reference, unit, ratio, target,
                ratio <= target ? "ok" : "MISSED");
}

// A row that only shows how a mode the program no longer uses compares:
// it has no target of its own to meet or miss.
void reportReference(const char* what, double ours, double reference, const char* unit) {
    std::printf("%-44s ours %10.3f %s   reference %10.3f %s   ratio %6.2f  (for comparison)\n",
                what, ours, unit, reference, unit, ours / reference);
}

// Two processes that spin until stopped, one per core of this machine's
// two; they load the machine as a build does.
class BusyLoad {
public:
    BusyLoad() {
        for (int i = 0; i < 2; ++i) {
            pid_t pid = ::fork();
            if (pid == 0) {
                std::atomic<unsigned long> n{0};
                for (;;)
                    n.fetch_add(1, std::memory_order_relaxed);
            }
            if (pid > 0)
                FChildren.push_back(pid);
        }
    }
    ~BusyLoad() {
        for (pid_t pid : FChildren) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    BusyLoad(const BusyLoad&) = delete;
    BusyLoad& operator=(const BusyLoad&) = delete;

private:
    std::vector<pid_t> FChildren;
};

// Microseconds per echo of a 1000-echo ping run through the component.
double pingPerEcho(QWidget& form, int& answered, const QString& target = "127.0.0.1") {
    TAxPing ping(&form);
    answered = 0;
    countAnswers(ping, 1000, answered);
    RunDriver driver(ping);
    QElapsedTimer t;
    t.start();
    driver.Run(target);
    return seconds(t) / 1000 * 1e6;
}

double referencePerEcho(const char* command = "ping -c 1000 -i 0 -q 127.0.0.1") {
    return timeCommand(command) / 1000 * 1e6;
}

// Opening and closing one service handle, as every echo does.
double handleMicroseconds() {
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 2000; ++i)
        IcmpCloseHandle(IcmpCreateFile());
    return seconds(t) / 2000 * 1e6;
}

void benchPing(QWidget& form) {
    std::printf("one service handle opens and closes in %.1f us\n", handleMicroseconds());
    int answered = 0;
    std::vector<double> ours, reference;
    for (int i = 0; i < 3; ++i) {
        ours.push_back(pingPerEcho(form, answered));
        reference.push_back(referencePerEcho());
    }
    std::printf("ping: %d of 1000 answered; one empty thread starts and ends in %.1f us here\n",
                answered, threadStartMicroseconds());
    report("ping 1000 echoes, per echo, median", median(ours), median(reference), "us", 2.0);
    const double referenceMedian = median(reference);

    // The same run with a fresh thread for every echo, the way before pooling.
    TPingThread::KeepFinishedThreads(false);
    double unpooled = pingPerEcho(form, answered);
    TPingThread::KeepFinishedThreads(true);
    reportReference("ping 1000 echoes, thread per echo, per echo", unpooled, referenceMedian, "us");

    // The same run inline on the window thread, without worker threads.
    TAxPing ping(&form);
    countAnswers(ping, 1000, answered);
    ping.SetMode(wsmBlocking);
    QElapsedTimer t;
    t.start();
    ping.Start(QStringLiteral("127.0.0.1"));
    double inlineRun = seconds(t) / 1000 * 1e6;
    report("ping 1000 echoes, blocking mode, per echo", inlineRun, referenceMedian, "us", 3.0);

    // Under load: two processes spin on both cores meanwhile.
    std::vector<double> loadedRuns, loadedReferences;
    double loadedUnpooled = 0, loadedThread = 0;
    {
        BusyLoad load;
        for (int i = 0; i < 3; ++i) {
            loadedRuns.push_back(pingPerEcho(form, answered));
            loadedReferences.push_back(referencePerEcho());
        }
        TPingThread::KeepFinishedThreads(false);
        loadedUnpooled = pingPerEcho(form, answered);
        TPingThread::KeepFinishedThreads(true);
        loadedThread = threadStartMicroseconds();
    }
    std::printf("loaded: %d of 1000 answered; one empty thread starts and ends in %.1f us\n",
                answered, loadedThread);
    report("loaded: ping 1000 echoes, per echo, median", median(loadedRuns),
           median(loadedReferences), "us", 3.0);
    reportReference("loaded: thread per echo, per echo", loadedUnpooled, median(loadedReferences),
                    "us");
}

void benchPing6(QWidget& form) {
    int answered = 0;
    std::vector<double> ours, reference;
    for (int i = 0; i < 3; ++i) {
        ours.push_back(pingPerEcho(form, answered, QStringLiteral("::1")));
        reference.push_back(referencePerEcho("ping -6 -c 1000 -i 0 -q ::1"));
    }
    std::printf("ping ::1: %d of 1000 answered\n", answered);
    report("IPv6: ping 1000 echoes, per echo, median", median(ours), median(reference), "us", 2.0);
    std::vector<double> loadedOurs, loadedReference;
    {
        BusyLoad load;
        for (int i = 0; i < 3; ++i) {
            loadedOurs.push_back(pingPerEcho(form, answered, QStringLiteral("::1")));
            loadedReference.push_back(referencePerEcho("ping -6 -c 1000 -i 0 -q ::1"));
        }
    }
    report("IPv6 loaded: ping 1000 echoes, per echo, median", median(loadedOurs),
           median(loadedReference), "us", 3.0);
}

// Round trips as reported, in microseconds: ours from the event-loop echo
// path that the path watch and the prober use, iputils' from its lines.
std::vector<double> reportedRoundTrips(const char* target, int count) {
    platform::AsyncEcho echo;
    AsyncEcho::Target to;
    to.family = std::strchr(target, ':') != nullptr ? 6 : 4;
    ::inet_pton(to.family == 6 ? AF_INET6 : AF_INET, target, to.address.data());
    std::vector<double> rtts;
    QEventLoop loop;
    for (int i = 0; i < count; ++i) {
        bool done = false;
        echo.Send(to, {}, [&](const AsyncEcho::Outcome& o) {
            if (o.status == 0)
                rtts.push_back(
                    std::chrono::duration<double, std::micro>(o.received - o.sent).count());
            done = true;
            loop.quit();
        });
        if (!done)
            loop.exec();
    }
    return rtts;
}

std::vector<double> referenceRoundTrips(const char* target, int count) {
    std::vector<double> rtts;
    const std::string command =
        "ping -n -i 0 -c " + std::to_string(count) + " " + target + " 2>/dev/null";
    FILE* out = ::popen(command.c_str(), "r");
    if (out == nullptr)
        return rtts;
    char line[256];
    while (std::fgets(line, sizeof line, out) != nullptr)
        if (const char* t = std::strstr(line, "time="))
            rtts.push_back(std::atof(t + 5) * 1000);
    ::pclose(out);
    return rtts;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

// The round trips reported to the far host of the test network while two
// busy loops load both cores, against iputils' on the same host in the
// same load: a round trip read after the reader wakes carries the
// scheduler's delay.
void benchAccuracy() {
    std::vector<double> ourMedian, ourHigh, theirMedian, theirHigh;
    {
        BusyLoad load;
        for (int i = 0; i < 3; ++i) {
            std::vector<double> ours = reportedRoundTrips(Far, 500);
            std::vector<double> theirs = referenceRoundTrips(Far, 500);
            ourMedian.push_back(percentile(ours, 0.5));
            ourHigh.push_back(percentile(ours, 0.95));
            theirMedian.push_back(percentile(theirs, 0.5));
            theirHigh.push_back(percentile(theirs, 0.95));
            std::printf("loaded round trips to %s: ours %zu, median %.1f us, 95th %.1f us; "
                        "iputils %zu, median %.1f us, 95th %.1f us\n",
                        Far, ours.size(), ourMedian.back(), ourHigh.back(), theirs.size(),
                        theirMedian.back(), theirHigh.back());
        }
    }
    report("loaded: reported round trip, median", median(ourMedian), median(theirMedian), "us",
           1.2);
    report("loaded: reported round trip, 95th percentile", median(ourHigh), median(theirHigh), "us",
           1.2);
}

void benchTrace(QWidget& form, const char* target = Far,
                const char* traceroute = "traceroute -I -n -q 1 ",
                const char* what = "trace to the farthest host, median") {
    TAxTrace trace(&form);
    trace.SetSendTestPacket(true);
    trace.SetResolve(false);
    trace.SetTimeOut(1000);
    QString summary;
    trace.OnFinished = [&](QObject*) { summary = trace.SummaryText(); };
    RunDriver driver(trace);
    std::vector<double> ours, reference;
    for (int i = 0; i < 15; ++i) {
        QElapsedTimer t;
        t.start();
        driver.Run(QString::fromLatin1(target));
        ours.push_back(seconds(t) * 1e3);
        reference.push_back(timeCommand(traceroute + std::string(target)) * 1e3);
    }
    std::printf("trace: %s\n", qPrintable(summary));
    report(what, median(ours), median(reference), "ms", 2.0);
}

// Seconds for one-echo runs to every target, one after the other.
double checkTargets(QWidget& form, const QStringList& targets, int& answered) {
    TAxPing ping(&form);
    answered = 0;
    countAnswers(ping, 1, answered);
    RunDriver driver(ping);
    QElapsedTimer t;
    t.start();
    for (const QString& target : targets)
        driver.Run(target);
    return seconds(t);
}

// Runs one step of a set-up; its output, with the step, goes to stderr
// when it fails.
bool setUpStep(const std::string& what, const std::string& script) {
    const std::string command = "sh 2>&1 <<'SCRIPT'\n" + script + "SCRIPT\n";
    FILE* out = ::popen(command.c_str(), "r");
    if (out == nullptr) {
        std::fprintf(stderr, "set-up step failed: %s: cannot start a shell\n", what.c_str());
        return false;
    }
    std::string said;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, out) != nullptr)
        said += chunk;
    const int status = ::pclose(out);
    if (status == 0)
        return true;
    std::fprintf(stderr, "set-up step failed (status %d): %s\n%s", status, what.c_str(),
                 said.c_str());
    return false;
}

// 254 addresses of each family on the far host's loopback,
// 10.61.11.1 … 254 and fd00:61:11::1 … fe, routed like the far host itself:
// the same runs in both families over the same routers. (On the client's
// own loopback 254 IPv6 addresses would make the kernel's choice of a
// source address the cost of every IPv6 request.) A net of their own: the
// test network's 10.61.10.0/24 answers only on every tenth address. Every
// step replaces what may be there already, so a second set-up changes
// nothing.
bool addFarAddresses() {
    const std::string far = netsonde::test::NodeNamespace("far");
    const std::string r2 = netsonde::test::NodeNamespace("r2");
    const std::string r3 = netsonde::test::NodeNamespace("r3");
    std::string batch;
    for (int host = 1; host <= 254; ++host) {
        char line[112];
        std::snprintf(
            line, sizeof line,
            "addr replace 10.61.11.%d/32 dev lo\naddr replace fd00:61:11::%x/128 dev lo nodad\n",
            host, host);
        batch += line;
    }
    return setUpStep("the far host's 508 addresses",
                     "ip -n " + far + " -batch - <<'EOF'\n" + batch + "EOF\n") &&
           setUpStep("r2's routes to them", "ip -n " + r2 +
                                                " route replace 10.61.11.0/24 via 10.61.3.2\n"
                                                "ip -n " +
                                                r2 +
                                                " -6 route replace fd00:61:11::/64 via "
                                                "fd00:61:3::2\n") &&
           setUpStep("r3's routes to them", "ip -n " + r3 +
                                                " route replace 10.61.11.0/24 via 10.61.4.2\n"
                                                "ip -n " +
                                                r3 +
                                                " -6 route replace fd00:61:11::/64 via "
                                                "fd00:61:4::2\n");
}

// False when the set-up failed and the row could not be measured.
bool benchChecks6(QWidget& form) {
    // Twice: the set-up must find its own work already done and go on.
    if (!addFarAddresses() || !addFarAddresses()) {
        std::fprintf(stderr, "IPv6: 254 one-echo runs left out: the far host's addresses could "
                             "not be set up\n");
        return false;
    }
    QStringList four, six;
    for (int host = 1; host <= 254; ++host) {
        four << QStringLiteral("10.61.11.%1").arg(host);
        six << QStringLiteral("fd00:61:11::%1").arg(host, 0, 16);
    }
    std::vector<double> ours, reference;
    int answered4 = 0, answered6 = 0;
    for (int i = 0; i < 3; ++i) {
        reference.push_back(checkTargets(form, four, answered4));
        ours.push_back(checkTargets(form, six, answered6));
    }
    std::printf("checks: %d of 254 IPv6 and %d of 254 IPv4 answered\n", answered6, answered4);
    report("IPv6: 254 one-echo runs against IPv4, median", median(ours), median(reference), "s",
           1.2);
    return true;
}

void benchChecks(QWidget& form) {
    TAxPing ping(&form);
    int answered = 0;
    countAnswers(ping, 1, answered);
    RunDriver driver(ping);
    QElapsedTimer t;
    t.start();
    for (int host = 1; host <= 254; ++host)
        driver.Run(QStringLiteral("127.0.0.%1").arg(host));
    double ours = seconds(t);
    double reference =
        timeCommand("i=1; while [ $i -le 254 ]; do ping -c 1 -W 1 127.0.0.$i; i=$((i+1)); done");
    std::printf("checks: %d of 254 answered\n", answered);
    report("254 one-echo runs, whole", ours, reference, "s", 0.3);
}

// Microseconds per echo of 1000 echoes, one after the other, through the
// echo service of a child process that runs as nobody in the group of an
// installed-style broker, where datagram ICMP sockets are refused: the raw
// path through the broker. Three runs per family; -1 where it failed.
std::vector<double> brokerPerEcho(const char* address, int family) {
    namespace fs = std::filesystem;
    char dirName[] = "/tmp/netsonde-bench-XXXXXX";
    fs::path dir = ::mkdtemp(dirName);
    fs::permissions(dir, fs::perms(0755));
    fs::path helper = dir / "icmp-helper";
    fs::copy_file(NETSONDE_ICMP_HELPER, helper);
    vfs_cap_data caps{};
    caps.magic_etc = VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE;
    caps.data[0].permitted = 1u << CAP_NET_RAW;
    if (::chown(helper.c_str(), 0, 65534) != 0 || ::chmod(helper.c_str(), 0750) != 0 ||
        ::setxattr(helper.c_str(), "security.capability", &caps, XATTR_CAPS_SZ_2, 0) != 0)
        std::fprintf(stderr, "could not install the broker for the benchmark\n");
    std::string range;
    std::getline(std::ifstream("/proc/sys/net/ipv4/ping_group_range"), range);
    std::ofstream("/proc/sys/net/ipv4/ping_group_range") << "1 0";
    int pipeFds[2];
    std::vector<double> perEcho(3, -1);
    if (::pipe(pipeFds) != 0)
        return perEcho;
    pid_t pid = ::fork();
    if (pid == 0) {
        namespace svc = platform::linuxicmp;
        ::close(pipeFds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(1);
        platform::rawicmp::SetHelperPathForTesting(helper.string());
        IcmpHandle h = family == AF_INET6 ? svc::Icmp6CreateFile() : svc::IcmpCreateFile();
        double results[3] = {-1, -1, -1};
        if (h != InvalidIcmpHandle && svc::HandleSocketKind(h) == svc::SocketKind::Raw) {
            std::uint8_t request[56] = {};
            std::uint8_t reply[sizeof(TEcho6Reply) + 56];
            TIpOptions options;
            options.Ttl = 64;
            TIpv6Address to6{};
            ::inet_pton(AF_INET6, address, to6.Bytes);
            const std::uint32_t to4 = ::inet_addr(address);
            for (double& result : results) {
                int answered = 0;
                QElapsedTimer t;
                t.start();
                for (int i = 0; i < 1000; ++i)
                    answered += family == AF_INET6
                                    ? svc::Icmp6SendEcho(h, &to6, request, sizeof request, &options,
                                                         reply, sizeof reply, 1000)
                                    : svc::IcmpSendEcho(h, to4, request, sizeof request, &options,
                                                        reply, sizeof reply, 1000);
                result = answered == 1000 ? seconds(t) / 1000 * 1e6 : -1;
            }
            svc::IcmpCloseHandle(h);
        }
        svc::CloseIdleSockets();
        [[maybe_unused]] ssize_t n = ::write(pipeFds[1], results, sizeof results);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    double results[3];
    if (::read(pipeFds[0], results, sizeof results) == static_cast<ssize_t>(sizeof results))
        perEcho.assign(results, results + 3);
    ::close(pipeFds[0]);
    ::waitpid(pid, nullptr, 0);
    std::ofstream("/proc/sys/net/ipv4/ping_group_range") << range;
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return perEcho;
}

void benchBroker() {
    struct Row {
        const char* address;
        int family;
        const char* reference;
        const char* what;
    };
    for (const Row& row :
         {Row{"127.0.0.1", AF_INET, "ping -c 1000 -i 0 -q 127.0.0.1",
              "broker: 1000 echoes to 127.0.0.1 as a group member, per echo, median"},
          Row{"::1", AF_INET6, "ping -6 -c 1000 -i 0 -q ::1",
              "broker: 1000 echoes to ::1 as a group member, per echo, median"}}) {
        std::vector<double> ours = brokerPerEcho(row.address, row.family);
        std::vector<double> reference;
        for (int i = 0; i < 3; ++i)
            reference.push_back(referencePerEcho(row.reference));
        std::printf("broker runs for %s: %.1f %.1f %.1f us per echo\n", row.address, ours[0],
                    ours[1], ours[2]);
        report(row.what, median(ours), median(reference), "us", 2.5);
    }
}

} // namespace

int main(int argc, char** argv) {
    netsonde::test::RequestTestNetwork();
    netsonde::test::EnterRequestedTestNetwork();
    if (!netsonde::test::InTestNetwork()) {
        std::fprintf(stderr, "no test network: %s\n", netsonde::test::TestNetworkProblem().c_str());
        return 2;
    }
    int result = 0;
    // Before any thread starts: the broker rows run in a child process.
    benchBroker();
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        IcmpBindingScope binding;
        QWidget form; // owner of the components, so that lookups can run asynchronously
        benchPing(form);
        benchTrace(form);
        benchChecks(form);
        benchPing6(form);
        benchAccuracy();
        benchTrace(form, Far6, "traceroute -6 -I -n -q 1 ",
                   "IPv6: trace to the farthest host, median");
        if (!benchChecks6(form))
            result = 1;
    }
    netsonde::test::LeaveTestNetwork();
    return result;
}

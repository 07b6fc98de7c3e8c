// The program's main window against plain references measured in the same
// run (each figure the median of several rounds):
//   1. start-up to the first shown window, against a bare QWidget window
//      started the same way (a fresh process each, offscreen);
//   2. Check All through the window over 127.0.0.1 … 127.0.0.254, against
//      the same 254 one-echo runs driven through TAxPing directly;
//   3. the process's CPU time while Check All waits for a host that never
//      answers (TimeOut 2500), as a share of the wall time;
//   4. Check All through the window over the 254 addresses of a network that
//      drops everything (TimeOut 2500), against fping over the same
//      addresses with the same time-out, no retry and 1 ms between requests;
//   5. the same over a network where every tenth address answers.
#include "app/CheckAllWait.h"
#include "app/Tfm_ns.h"
#include "controls/g_listbox.h"
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "support/TestNetwork.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double monotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void report(const char* what, double ours, double reference, const char* unit, double target) {
    const double ratio = ours / reference;
    std::printf("%-40s ours %9.3f %s   reference %9.3f %s   ratio %5.2f  (target <= %.1f) %s\n",
                what, ours, unit, reference, unit, ratio, target,
                ratio <= target ? "ok" : "MISSED");
}

// ---- 1. start-up ----

// The child: starts the application and one window, and prints the moment
// the window has been shown and painted for the first time.
int startChild(int argc, char** argv, bool window) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::unique_ptr<IcmpBindingScope> binding;
    std::unique_ptr<QWidget> shown;
    if (window) {
        binding = std::make_unique<IcmpBindingScope>();
        shown = std::make_unique<Tfm_ns>();
    } else {
        shown = std::make_unique<QWidget>();
        shown->resize(625, 426);
    }
    shown->show();
    QTimer::singleShot(0, &app, [&] {
        shown->repaint();
        std::printf("%.9f\n", monotonicSeconds());
        std::fflush(stdout);
        QApplication::quit();
    });
    return QApplication::exec();
}

// Seconds from starting the child process to its first shown window.
double startOnce(const std::string& self, const char* kind) {
    const double start = monotonicSeconds();
    FILE* child = popen((self + " --start " + kind).c_str(), "r");
    double shown = 0;
    if (!child || std::fscanf(child, "%lf", &shown) != 1)
        std::fprintf(stderr, "start-up child failed\n");
    if (child)
        pclose(child);
    return shown - start;
}

void benchStartup(const std::string& self) {
    std::vector<double> ours, reference;
    for (int round = 0; round < 3; ++round) {
        std::vector<double> w, b;
        for (int i = 0; i < 5; ++i) {
            w.push_back(startOnce(self, "window"));
            b.push_back(startOnce(self, "bare"));
        }
        ours.push_back(median(w) * 1e3);
        reference.push_back(median(b) * 1e3);
    }
    report("start-up to the first shown window", median(ours), median(reference), "ms", 1.5);
}

// ---- 2. Check All ----

QStringList loopbackHosts() {
    QStringList hosts;
    for (int host = 1; host <= 254; ++host)
        hosts << QStringLiteral("127.0.0.%1").arg(host);
    return hosts;
}

double checkAllThroughWindow(int& answered) {
    Tfm_ns w;
    w.show();
    w.ApplyTimeOut(1000);
    for (const QString& host : loopbackHosts())
        w.lb_add->AddItem(host);
    // The window is on the screen, painted once, before the user presses
    // Check All.
    QApplication::processEvents();
    w.repaint();
    QApplication::processEvents();
    w.lb_add->Clear();
    for (const QString& host : loopbackHosts())
        w.lb_add->AddItem(host);
    QElapsedTimer t;
    t.start();
    netsonde::test::CheckAllAndWait(w);
    const double s = t.nsecsElapsed() / 1e9;
    answered = 0;
    for (int i = 0; i < w.lb_add->Count(); ++i)
        answered += w.EntryState(i) == 2;
    return s;
}

double checksThroughPing(int& answered) {
    QWidget form;
    TAxPing ping(&form);
    ping.SetNumber(1);
    ping.SetTimeOut(1000);
    QEventLoop loop;
    answered = 0;
    ping.OnData = [&](QObject*, int status) { answered += status == 0; };
    ping.OnFinished = [&](QObject*) { loop.quit(); };
    ping.OnError = [&](QObject*, int, const QString&) { loop.quit(); };
    QElapsedTimer t;
    t.start();
    for (const QString& host : loopbackHosts()) {
        ping.Start(host);
        if (ping.Busy())
            loop.exec();
    }
    return t.nsecsElapsed() / 1e9;
}

void benchCheckAll() {
    // Rounds alternate between the two, and each round's ratio is taken, so
    // that a busy moment of the shared machine hits both sides alike.
    std::vector<double> ours, reference, ratios;
    int answeredOurs = 0, answeredReference = 0;
    for (int round = 0; round < 5; ++round) {
        ours.push_back(checkAllThroughWindow(answeredOurs));
        reference.push_back(checksThroughPing(answeredReference));
        ratios.push_back(ours.back() / reference.back());
        std::printf("  round %d: window %.3f s, TAxPing %.3f s, ratio %.2f\n", round + 1,
                    ours.back(), reference.back(), ratios.back());
    }
    std::printf("Check All: %d of 254 answered through the window, %d through TAxPing\n",
                answeredOurs, answeredReference);
    std::printf("%-40s ours %9.3f s   reference %9.3f s   ratio %5.2f  (target <= 1.5) %s\n",
                "Check All over 254 loopback hosts", median(ours), median(reference),
                median(ratios), median(ratios) <= 1.5 ? "ok" : "MISSED");
    std::printf("%-40s %.3f s   (target <= 0.5 s) %s\n", "Check All over 254 hosts, whole",
                median(ours), median(ours) <= 0.5 ? "ok" : "MISSED");
}

// ---- 3. CPU while waiting ----

void benchWaitCpu() {
    std::vector<double> shares;
    double wall = 0;
    for (int round = 0; round < 3; ++round) {
        Tfm_ns w;
        w.show();
        QApplication::processEvents();
        w.lb_add->AddItem(QString::fromLatin1(netsonde::test::net::Quiet));
        const double cpu0 = cpuSeconds();
        QElapsedTimer t;
        t.start();
        netsonde::test::CheckAllAndWait(w);
        wall = t.nsecsElapsed() / 1e9;
        shares.push_back((cpuSeconds() - cpu0) / wall * 100);
    }
    std::printf("%-40s %.2f %% of %.2f s wall   (target <= 5 %%) %s\n",
                "CPU while Check All waits (silent host)", median(shares), wall,
                median(shares) <= 5 ? "ok" : "MISSED");
}

// ---- 4, 5. Check All over a whole network ----

QStringList networkHosts(const char* net) {
    QStringList hosts;
    for (int host = 1; host <= 254; ++host)
        hosts << QString::fromLatin1(net) + QString::number(host);
    return hosts;
}

double checkNetworkThroughWindow(const char* net, int& answered) {
    Tfm_ns w;
    w.show();
    w.ApplyTimeOut(2500);
    for (const QString& host : networkHosts(net))
        w.lb_add->AddItem(host);
    QApplication::processEvents();
    QElapsedTimer t;
    t.start();
    netsonde::test::CheckAllAndWait(w);
    const double s = t.nsecsElapsed() / 1e9;
    answered = 0;
    for (int i = 0; i < w.lb_add->Count(); ++i)
        answered += w.EntryState(i) == 2;
    return s;
}

double fpingNetwork(const char* net) {
    const std::string command =
        std::string("fping -q -g ") + net + "1 " + net + "254 -t 2500 -r 0 -i 1 >/dev/null 2>&1";
    const double start = monotonicSeconds();
    if (std::system(command.c_str()) < 0)
        std::fprintf(stderr, "fping failed to start\n");
    return monotonicSeconds() - start;
}

// ratioTarget 0: fping is shown for reference only.
void benchNetwork(const char* what, const char* net, double ratioTarget) {
    if (std::system("command -v fping >/dev/null 2>&1") != 0) {
        std::printf("%-40s skipped: fping is not installed\n", what);
        return;
    }
    std::vector<double> ours, reference, ratios;
    int answered = 0;
    for (int round = 0; round < 3; ++round) {
        ours.push_back(checkNetworkThroughWindow(net, answered));
        reference.push_back(fpingNetwork(net));
        ratios.push_back(ours.back() / reference.back());
        std::printf("  round %d: window %.3f s (%d answered), fping %.3f s, ratio %.2f\n",
                    round + 1, ours.back(), answered, reference.back(), ratios.back());
    }
    std::printf("%-40s ours %9.3f s   fping %9.3f s   ratio %5.2f", what, median(ours),
                median(reference), median(ratios));
    if (ratioTarget > 0)
        std::printf("  (target <= %.1f) %s", ratioTarget,
                    median(ratios) <= ratioTarget ? "ok" : "MISSED");
    std::printf("\n");
    std::printf("%-40s %.3f s   (target <= 3.0 s) %s\n", "  whole run", median(ours),
                median(ours) <= 3.0 ? "ok" : "MISSED");
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--start") == 0)
        return startChild(argc, argv, std::strcmp(argv[2], "window") == 0);

    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    benchStartup(self);

    netsonde::test::RequestTestNetwork();
    netsonde::test::EnterRequestedTestNetwork();
    if (!netsonde::test::InTestNetwork()) {
        std::fprintf(stderr, "no test network: %s\n", netsonde::test::TestNetworkProblem().c_str());
        return 2;
    }
    {
        QApplication app(argc, argv);
        IcmpBindingScope binding;
        benchCheckAll();
        benchWaitCpu();
        benchNetwork("Check All over a silent /24", netsonde::test::net::SilentNet, 1.1);
        benchNetwork("Check All, every tenth answering", netsonde::test::net::TenthNet, 0);
    }
    netsonde::test::LeaveTestNetwork();
    return 0;
}

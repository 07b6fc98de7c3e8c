// The headless prober under load, on the routed test network, against
// Debian's prometheus-smokeping-prober measured in the same run:
//   1. 1,000 hosts (127.0.0.1 onwards, answered by the kernel) at a 1 s
//      interval for 60 s: CPU time per echo and peak memory of each
//      program, as its own child process;
//   2. 10,000 hosts at 1 s: requests sent more than one interval late
//      (must be none) and peak memory (at most 200 MB);
//   3. the time to scrape the 10,000-host /metrics (at most 0.2 s);
//      parts 2 and 3 beside the reference doing the same hosts;
//   4. 27 watched paths (the far host's answering addresses, 4 hops) at
//      one round a second: CPU time per hop probe, peak memory, the time of
//      a scrape and the series each path adds (bench_paths compares the
//      same engine with mtr).
// Each figure is the median of three runs. Usage:
//   bench_probe [seconds for part 1 (60)] [seconds for part 2 (30)]
//               [seconds for part 4 (30)]
#include "support/TestNetwork.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// 127.0.0.1 onwards, skipping the .0 and .255 of every /24.
std::vector<std::string> hostList(int count) {
    std::vector<std::string> hosts;
    for (int i = 0; i < count; ++i)
        hosts.push_back("127." + std::to_string(i / (254 * 256)) + '.' +
                        std::to_string((i / 254) % 256) + '.' + std::to_string(i % 254 + 1));
    return hosts;
}

std::string hostsFile(int count) {
    std::string path = "/tmp/bench_probe_hosts_" + std::to_string(::getpid()) + "_" +
                       std::to_string(count) + ".net";
    std::ofstream out(path);
    for (const std::string& host : hostList(count))
        out << host << "\r\n";
    return path;
}

// Output of a shell command.
std::string capture(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

// The sum of every sample of one family in a scrape.
double sumOf(const std::string& text, const std::string& family) {
    double sum = 0;
    std::size_t at = 0;
    const std::string start = family + "{";
    while ((at = text.find(start, at)) != std::string::npos) {
        if (at == 0 || text[at - 1] == '\n') {
            std::size_t end = text.find('\n', at);
            std::size_t space = text.rfind(' ', end);
            sum += std::atof(text.substr(space + 1, end - space - 1).c_str());
        }
        at += start.size();
    }
    return sum;
}

struct Run {
    double cpuSeconds = 0;
    double peakMb = 0;
    double requests = 0;
    double late = 0;
    double scrapeSeconds = 0;
};

// Runs a program for the given time, scraping it at the end, and reports
// its CPU time and peak resident memory from the kernel's accounting.
Run runFor(const std::vector<std::string>& argv, int port, int seconds, const char* family,
           bool timeScrapes) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string log = "/tmp/bench_probe_" + std::to_string(port) + ".log";
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", args[0]);
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/metrics";
    Run run;
    if (timeScrapes) {
        std::vector<double> times;
        for (int i = 0; i < 3; ++i) {
            auto t0 = Clock::now();
            capture("curl -s -m 15 -o /dev/null " + url);
            times.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        }
        run.scrapeSeconds = median(times);
    }
    std::string text = capture("curl -s -m 15 " + url);
    run.requests = sumOf(text, family);
    if (std::size_t at = text.find("\nnetsonde_probe_late_requests_total ");
        at != std::string::npos)
        run.late = std::atof(text.c_str() + at + 36);
    ::kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    // A program that does not end within 20 s of SIGTERM is killed, and
    // said so.
    auto asked = Clock::now();
    while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (Clock::now() - asked > std::chrono::seconds(20)) {
            std::printf("  (%s did not end within 20 s of SIGTERM; killed)\n", args[0]);
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    netsonde::test::RequestTestNetwork();
    netsonde::test::EnterRequestedTestNetwork();
    if (!netsonde::test::InTestNetwork()) {
        std::fprintf(stderr, "no test network: %s\n", netsonde::test::TestNetworkProblem().c_str());
        return 1;
    }
    // Loopback of the client namespace answers every 127/8 address.
    std::system("ip link set lo up");
    const int part1 = argc > 1 ? std::atoi(argv[1]) : 60;
    const int part2 = argc > 2 ? std::atoi(argv[2]) : 30;
    const std::string probe = NETSONDE_PROBE;
    const std::string reference = "/usr/bin/prometheus-smokeping-prober";
    const bool haveReference = ::access(reference.c_str(), X_OK) == 0;

    std::string hosts1k = hostsFile(1000);
    std::vector<double> ourCpu, ourMb, refCpu, refMb;
    for (int round = 0; round < 3; ++round) {
        Run ours = runFor({probe, "--listen", "127.0.0.1:19655", "--hosts", hosts1k}, 19655, part1,
                          "netsonde_requests_total", false);
        ourCpu.push_back(ours.cpuSeconds / std::max(1.0, ours.requests) * 1e6);
        ourMb.push_back(ours.peakMb);
        std::printf("round %d: netsonde-probe %.0f echoes, %.2f s CPU, %.1f MB peak\n", round + 1,
                    ours.requests, ours.cpuSeconds, ours.peakMb);
        if (haveReference) {
            std::vector<std::string> args = {reference, "--web.listen-address=127.0.0.1:19374",
                                             "--ping.interval=1s"};
            for (const std::string& h : hostList(1000))
                args.push_back(h);
            Run ref = runFor(args, 19374, part1, "smokeping_requests_total", false);
            // A scrape that timed out counts nothing: that round has no
            // figure per echo.
            if (ref.requests > 0)
                refCpu.push_back(ref.cpuSeconds / ref.requests * 1e6);
            refMb.push_back(ref.peakMb);
            std::printf("round %d: smokeping-prober %.0f echoes, %.2f s CPU, %.1f MB peak\n",
                        round + 1, ref.requests, ref.cpuSeconds, ref.peakMb);
        }
        std::fflush(stdout);
    }
    std::fflush(stdout);
    std::printf("1,000 hosts at 1 s for %d s (medians of three):\n", part1);
    std::printf("  netsonde-probe:   %.1f us CPU per echo, %.1f MB peak\n", median(ourCpu),
                median(ourMb));
    if (haveReference && !refCpu.empty()) {
        std::printf("  smokeping-prober: %.1f us CPU per echo (of %zu rounds it answered a "
                    "scrape in), %.1f MB peak\n",
                    median(refCpu), refCpu.size(), median(refMb));
        std::printf("  ratio CPU per echo ours/reference: %.2f (goal <= 1.0)\n",
                    median(ourCpu) / median(refCpu));
    } else {
        std::printf("  (no reference: prometheus-smokeping-prober is not installed or never "
                    "answered a scrape)\n");
    }

    std::string hosts10k = hostsFile(10000);
    std::vector<double> late, mb, scrape, rate, cpu, refRate10k, refMb10k, refScrape10k, refCpu10k;
    for (int round = 0; round < 3; ++round) {
        Run r = runFor({probe, "--listen", "127.0.0.1:19656", "--hosts", hosts10k}, 19656, part2,
                       "netsonde_requests_total", true);
        late.push_back(r.late);
        mb.push_back(r.peakMb);
        scrape.push_back(r.scrapeSeconds);
        rate.push_back(r.requests / part2);
        cpu.push_back(r.cpuSeconds / std::max(1.0, r.requests) * 1e6);
        std::printf("round %d: 10,000 hosts: %.0f requests, %.0f late, %.2f s CPU, %.1f MB peak, "
                    "scrape %.3f s\n",
                    round + 1, r.requests, r.late, r.cpuSeconds, r.peakMb, r.scrapeSeconds);
        if (haveReference) {
            std::vector<std::string> args = {reference, "--web.listen-address=127.0.0.1:19375",
                                             "--ping.interval=1s"};
            for (const std::string& h : hostList(10000))
                args.push_back(h);
            Run ref = runFor(args, 19375, part2, "smokeping_requests_total", true);
            refRate10k.push_back(ref.requests / part2);
            refMb10k.push_back(ref.peakMb);
            // A refused or failed scrape (the reference still starting its
            // probers) says nothing about how long a scrape takes.
            if (ref.requests > 0)
                refScrape10k.push_back(ref.scrapeSeconds);
            if (ref.requests > 0)
                refCpu10k.push_back(ref.cpuSeconds / ref.requests * 1e6);
            std::printf("round %d: 10,000 hosts, smokeping-prober: %.0f requests, %.2f s CPU, "
                        "%.1f MB peak, scrape %.3f s\n",
                        round + 1, ref.requests, ref.cpuSeconds, ref.peakMb, ref.scrapeSeconds);
        }
        std::fflush(stdout);
    }
    std::printf("10,000 hosts at 1 s for %d s (medians of three):\n", part2);
    std::printf("  requests per second: %.0f\n", median(rate));
    std::printf("  requests late by more than one interval: %.0f (goal 0)\n", median(late));
    std::printf("  CPU per echo: %.1f us\n", median(cpu));
    std::printf("  peak memory: %.1f MB (goal <= 200)\n", median(mb));
    std::printf("  scrape of /metrics: %.3f s (goal <= 0.2)\n", median(scrape));
    if (haveReference) {
        std::printf("  smokeping-prober: %.0f requests per second, %.1f MB peak",
                    median(refRate10k), median(refMb10k));
        if (refScrape10k.empty())
            std::printf(", never answered a scrape with its counters");
        else
            std::printf(", scrape %.3f s (of %zu rounds it answered in)", median(refScrape10k),
                        refScrape10k.size());
        if (!refCpu10k.empty())
            std::printf(", %.1f us CPU per echo (ratio ours/reference %.2f)", median(refCpu10k),
                        median(cpu) / median(refCpu10k));
        std::printf("\n");
    }
    const int part4 = argc > 3 ? std::atoi(argv[3]) : 30;
    std::vector<std::string> pathArgs = {probe, "--listen", "127.0.0.1:19657", "--path-interval",
                                         "1"};
    std::vector<std::string> pathTargets = {"10.61.4.2", "10.61.4.3"};
    for (int i = 10; i <= 250; i += 10)
        pathTargets.push_back("10.61.10." + std::to_string(i));
    // The prober watches an address once, however often it is named.
    for (const std::string& target : pathTargets) {
        pathArgs.push_back("--path");
        pathArgs.push_back(target);
    }
    std::vector<double> pathCpu, pathMb, pathScrape;
    for (int round = 0; round < 3; ++round) {
        Run r = runFor(pathArgs, 19657, part4, "netsonde_path_hop_requests_total", true);
        pathCpu.push_back(r.cpuSeconds / std::max(1.0, r.requests) * 1e6);
        pathMb.push_back(r.peakMb);
        pathScrape.push_back(r.scrapeSeconds);
        std::printf("round %d: %zu paths: %.0f hop probes, %.2f s CPU, %.1f MB peak, scrape "
                    "%.3f s\n",
                    round + 1, pathTargets.size(), r.requests, r.cpuSeconds, r.peakMb,
                    r.scrapeSeconds);
    }
    std::printf("%zu paths of 4 hops at 1 round/s for %d s (medians of three):\n",
                pathTargets.size(), part4);
    std::printf("  CPU per hop probe: %.1f us, peak memory %.1f MB, scrape %.3f s\n",
                median(pathCpu), median(pathMb), median(pathScrape));

    // The machine is shared: the load says how much of it the run had.
    double load[3] = {};
    if (::getloadavg(load, 3) == 3)
        std::printf("load average at the end: %.2f %.2f %.2f on %ld cores\n", load[0], load[1],
                    load[2], ::sysconf(_SC_NPROCESSORS_ONLN));
    std::remove(hosts1k.c_str());
    std::remove(hosts10k.c_str());
    netsonde::test::LeaveTestNetwork();
    return 0;
}

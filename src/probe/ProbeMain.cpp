#include "probe/ProbeMain.h"

#include "echo/IcmpBinding.h"
#include "platform/IcmpService.h"
#include "platform/ProbeEntry.h"
#include "probe/MetricsServer.h"
#include "probe/ProbeConfig.h"
#include "probe/Prober.h"
#include "probe/WebConfig.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include <csignal>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

namespace probe {

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int signal) {
    unsigned char s = static_cast<unsigned char>(signal);
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &s, 1);
}

void say(const QString& line) {
    std::fprintf(stderr, "netsonde-probe: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

bool icmpPossible(int family) {
    using platform::linuxicmp::ProbeSocketKind;
    using platform::linuxicmp::SocketKind;
    bool v4 = family != 6 && ProbeSocketKind(AF_INET) != SocketKind::None;
    bool v6 = family != 4 && ProbeSocketKind(AF_INET6) != SocketKind::None;
    return v4 || v6;
}

} // namespace

int RunProbe(const QStringList& arguments) {
    ProbeConfig config;
    QString error;
    QString help;
    switch (ParseCommandLine(arguments, config, error, &help)) {
    case ParseResult::Help:
        std::fputs(help.toLocal8Bit().constData(), stdout);
        return 0;
    case ParseResult::Version:
        std::printf("netsonde-probe %s\n", NETSONDE_VERSION);
        return 0;
    case ParseResult::Error:
        say(error);
        return ExitUsage;
    case ParseResult::Run:
        break;
    }
    // A scrape of many hosts builds buffers of tens of megabytes. Taken from
    // the heap (up to 32 MiB each) and kept there when freed, the next scrape
    // reuses their pages instead of mapping and faulting in fresh ones.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20); // the largest glibc takes
    ::mallopt(M_TRIM_THRESHOLD, 512 << 20);
    QStringList hosts;
    if (!CollectHosts(config, hosts, error)) {
        say(error);
        return ExitUsage;
    }
    if (hosts.isEmpty() && config.paths.empty()) {
        say(QStringLiteral("no hosts to probe: name them as arguments, with --hosts FILE, "
                           "--session FILE or \"host =\" lines in the config file"));
        return ExitUsage;
    }
    // TCP and UDP targets need no ICMP socket: only a list with an ICMP
    // host or path asks for one.
    const auto icmp = [](const QString& target) {
        return platform::ParseProbeTarget(target).value_or(platform::ProbeEntry{}).kind ==
               platform::ProbeKind::Icmp;
    };
    const bool needsIcmp = std::any_of(hosts.begin(), hosts.end(), icmp) ||
                           std::any_of(config.paths.begin(), config.paths.end(),
                                       [&](const PathTarget& path) { return icmp(path.host); });
    if (needsIcmp && !icmpPossible(config.family)) {
        say(QStringLiteral(
            "no ICMP socket can be opened: either admit this user's group to datagram ICMP "
            "(sysctl -w net.ipv4.ping_group_range=\"0 2147483647\") or let it run the raw-socket "
            "helper (add the user to the group netsonde, whose helper icmp-helper holds "
            "cap_net_raw)"));
        return ExitNoIcmp;
    }

    // Without ICMP hosts the echo service is not asked for, and its absence
    // is no error.
    std::optional<IcmpBindingScope> binding;
    if (needsIcmp)
        binding.emplace();
    Prober prober(config);
    auto reload = [&](QString& message) {
        ProbeConfig fresh;
        QString why;
        QStringList list;
        if (ParseCommandLine(arguments, fresh, why) != ParseResult::Run ||
            !CollectHosts(fresh, list, why) || (list.isEmpty() && fresh.paths.empty())) {
            ++prober.Figures().reloadFailures;
            message = QStringLiteral("reload failed, the host list stays: ") +
                      (why.isEmpty() ? QStringLiteral("no hosts") : why);
            say(message);
            return false;
        }
        if (fresh.listenAddress != config.listenAddress || fresh.listenPort != config.listenPort)
            say(QStringLiteral("the listen address takes effect at the next start"));
        if (fresh.webConfigFile != config.webConfigFile ||
            fresh.enableLifecycle != config.enableLifecycle)
            say(QStringLiteral("the web settings take effect at the next start"));
        prober.SetConfig(fresh);
        prober.SetHosts(list);
        prober.SetPaths(fresh.paths);
        ++prober.Figures().reloads;
        message = QStringLiteral("reloaded: %1 hosts").arg(list.size());
        if (!fresh.paths.empty())
            message += QStringLiteral(", %1 paths").arg(fresh.paths.size());
        say(message);
        return true;
    };
    MetricsServer server(
        [&](bool om) -> MetricsServer::Body {
            auto writer = std::make_shared<MetricsWriter>(prober.Writer(om));
            return
                [writer](QByteArray& out, qsizetype budget) { return writer->Next(out, budget); };
        },
        reload);
    server.SetReloadEnabled(config.enableLifecycle);
    if (!config.webConfigFile.isEmpty()) {
        auto web = std::make_shared<WebConfig>();
        if (!LoadWebConfig(config.webConfigFile, *web, error)) {
            say(error);
            return ExitUsage;
        }
        server.SetWebConfig(web);
    }
    if (!server.Listen(QHostAddress(config.listenAddress), config.listenPort, error)) {
        say(QStringLiteral("cannot listen on %1:%2: %3")
                .arg(config.listenAddress)
                .arg(config.listenPort)
                .arg(error));
        return ExitUsage;
    }

    // Signals reach the event loop through a pipe: SIGHUP reloads, SIGINT
    // and SIGTERM end the program.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        say(QStringLiteral("cannot set up signal handling"));
        return ExitUsage;
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        unsigned char s = 0;
        if (::read(signalPipe[0], &s, 1) != 1)
            return;
        if (s == SIGHUP) {
            QString message;
            reload(message);
        } else {
            QCoreApplication::quit();
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGHUP, SIGINT, SIGTERM})
        ::sigaction(s, &action, nullptr);

    prober.SetHosts(hosts);
    prober.SetPaths(config.paths);
    QString where = config.listenAddress.contains(QLatin1Char(':'))
                        ? QStringLiteral("[%1]").arg(config.listenAddress)
                        : config.listenAddress;
    say(QStringLiteral("probing %1 hosts every %2 s; metrics at %5://%3:%4/metrics")
            .arg(hosts.size())
            .arg(config.intervalMs / 1000.0)
            .arg(where)
            .arg(server.Port())
            .arg(server.Tls() ? QStringLiteral("https") : QStringLiteral("http")));
    if (!config.paths.empty())
        say(QStringLiteral("watching %1 paths hop by hop (a round every %2 s unless a path sets "
                           "its own interval)")
                .arg(config.paths.size())
                .arg(config.pathIntervalMs / 1000.0));
    int status = QCoreApplication::exec();
    for (int s : {SIGHUP, SIGINT, SIGTERM})
        ::signal(s, SIG_DFL);
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    return status;
}

} // namespace probe

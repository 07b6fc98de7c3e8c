#include "support/TestNetwork.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace netsonde::test {

namespace {

bool requested = false;
bool inside = false;
std::string problem = "not requested";
std::string prefix;  // namespace names: <prefix>-cli, <prefix>-r1, ...
std::string workDir; // resolv.conf, hosts, dnsmasq's pid file

const char* const kNodes[] = {"cli", "r1", "r2", "r3", "far", "quiet", "forger"};

bool run(const std::string& command) {
    std::string quiet = command + " >/dev/null 2>&1";
    return std::system(quiet.c_str()) == 0;
}

std::string ns(const char* node) {
    return prefix + "-" + node;
}

// The reverse-lookup name of an IPv6 address (nibbles, ip6.arpa).
std::string reverse6(const char* address) {
    in6_addr a{};
    ::inet_pton(AF_INET6, address, &a);
    std::string name;
    static const char digits[] = "0123456789abcdef";
    for (int i = 15; i >= 0; --i) {
        name += digits[a.s6_addr[i] & 0xF];
        name += '.';
        name += digits[a.s6_addr[i] >> 4];
        name += '.';
    }
    return name + "ip6.arpa";
}

// The whole topology as one shell script; it stops at the first failure.
std::string buildScript() {
    std::ostringstream s;
    s << "set -e\n";
    for (const char* n : kNodes) {
        s << "ip netns add " << ns(n) << "\nip -n " << ns(n) << " link set lo up\n";
        // IPv6 addresses are usable at once (no duplicate detection), on
        // every link made afterwards.
        for (const char* conf : {"all", "default"})
            s << "ip netns exec " << ns(n) << " sh -c 'echo 0 > /proc/sys/net/ipv6/conf/" << conf
              << "/accept_dad'\n";
    }
    // Quiet and forger send with hop limit 255, as with TTL 255 below; the
    // setting must come before their links exist.
    for (const char* n : {"quiet", "forger"})
        s << "ip netns exec " << ns(n)
          << " sh -c 'echo 255 > /proc/sys/net/ipv6/conf/default/hop_limit'\n";
    auto link = [&](const char* a, const char* ifa, const char* b, const char* ifb) {
        s << "ip link add " << ifa << " netns " << ns(a) << " type veth peer name " << ifb
          << " netns " << ns(b) << "\n";
        s << "ip -n " << ns(a) << " link set " << ifa << " up\n";
        s << "ip -n " << ns(b) << " link set " << ifb << " up\n";
    };
    link("cli", "c0", "r1", "r1a");
    link("r1", "r1b", "r2", "r2a");
    link("r2", "r2b", "r3", "r3a");
    link("r3", "r3b", "far", "f0");
    link("r3", "r3c", "quiet", "q0");
    link("r3", "r3d", "forger", "g0");
    auto addr = [&](const char* n, const char* cidr, const char* dev) {
        s << "ip -n " << ns(n) << " addr add " << cidr << " dev " << dev << "\n";
    };
    addr("cli", "10.61.1.2/24", "c0");
    addr("r1", "10.61.1.1/24", "r1a");
    addr("r1", "10.61.2.1/24", "r1b");
    addr("r2", "10.61.2.2/24", "r2a");
    addr("r2", "10.61.3.1/24", "r2b");
    addr("r3", "10.61.3.2/24", "r3a");
    addr("r3", "10.61.4.1/24", "r3b");
    addr("r3", "10.61.5.1/24", "r3c");
    addr("far", "10.61.4.2/24", "f0");
    addr("far", "10.61.4.3/24", "f0");
    addr("quiet", "10.61.5.2/24", "q0");
    addr("r3", "10.61.6.1/24", "r3d");
    addr("forger", "10.61.6.2/24", "g0");
    // The same links in IPv6: fd00:61:<link>::<host>/64.
    auto addr6 = [&](const char* n, const char* address, const char* dev) {
        s << "ip -n " << ns(n) << " addr add " << address << "/64 dev " << dev << " nodad\n";
    };
    addr6("cli", "fd00:61:1::2", "c0");
    addr6("r1", "fd00:61:1::1", "r1a");
    addr6("r1", "fd00:61:2::1", "r1b");
    addr6("r2", "fd00:61:2::2", "r2a");
    addr6("r2", "fd00:61:3::1", "r2b");
    addr6("r3", "fd00:61:3::2", "r3a");
    addr6("r3", "fd00:61:4::1", "r3b");
    addr6("r3", "fd00:61:5::1", "r3c");
    addr6("r3", "fd00:61:6::1", "r3d");
    addr6("far", "fd00:61:4::2", "f0");
    addr6("far", "fd00:61:4::3", "f0");
    addr6("quiet", "fd00:61:5::2", "q0");
    addr6("forger", "fd00:61:6::2", "g0");
    // A link-local address of r1 that the client reaches through c0.
    s << "ip -n " << ns("r1") << " addr add fe80::61:1/64 dev r1a nodad\n";
    auto route = [&](const char* n, const char* r) {
        s << "ip -n " << ns(n) << " route add " << r << "\n";
    };
    route("cli", "default via 10.61.1.1");
    route("r1", "default via 10.61.2.2");
    route("r2", "10.61.1.0/24 via 10.61.2.1");
    route("r2", "10.61.4.0/24 via 10.61.3.2");
    route("r2", "10.61.5.0/24 via 10.61.3.2");
    route("r2", "10.61.6.0/24 via 10.61.3.2");
    route("r2", "10.61.8.0/24 via 10.61.3.2");
    route("r2", "10.61.9.0/24 via 10.61.3.2");
    route("r2", "blackhole 10.61.7.0/24");
    route("r2", "10.61.10.0/24 via 10.61.3.2");
    route("r3", "10.61.10.0/24 via 10.61.4.2");
    route("far", "local 10.61.10.0/24 dev lo");
    route("r3", "default via 10.61.3.1");
    route("far", "default via 10.61.4.1");
    route("quiet", "default via 10.61.5.1");
    route("forger", "default via 10.61.6.1");
    auto route6 = [&](const char* n, const char* r) {
        s << "ip -6 -n " << ns(n) << " route add " << r << "\n";
    };
    route6("cli", "default via fd00:61:1::1");
    route6("r1", "default via fd00:61:2::2");
    route6("r2", "fd00:61:1::/64 via fd00:61:2::1");
    for (const char* net : {"fd00:61:4::/64", "fd00:61:5::/64", "fd00:61:6::/64", "fd00:61:9::/64"})
        route6("r2", (std::string(net) + " via fd00:61:3::2").c_str());
    // r2 answers for fd00:61:8::/64 that there is no route, and drops what
    // goes to fd00:61:7::/64 without a word.
    route6("r2", "unreachable fd00:61:8::/64");
    route6("r2", "blackhole fd00:61:7::/64");
    route6("r3", "default via fd00:61:3::1");
    route6("far", "default via fd00:61:4::1");
    route6("quiet", "default via fd00:61:5::1");
    route6("forger", "default via fd00:61:6::1");
    auto sysctl = [&](const char* n, const char* key, const char* value) {
        s << "ip netns exec " << ns(n) << " sh -c 'echo " << value << " > /proc/sys/net/ipv4/"
          << key << "'\n";
    };
    // Routers answer every packet: with an empty rate mask no ICMP type
    // counts against the per-host or the global rate limit.
    auto sysctl6 = [&](const char* n, const char* key, const char* value) {
        s << "ip netns exec " << ns(n) << " sh -c 'echo " << value << " > /proc/sys/net/ipv6/"
          << key << "'\n";
    };
    for (const char* r : {"r1", "r2", "r3"}) {
        sysctl(r, "ip_forward", "1");
        sysctl(r, "icmp_ratelimit", "0");
        sysctl(r, "icmp_ratemask", "0");
        sysctl6(r, "conf/all/forwarding", "1");
        sysctl6(r, "icmp/ratelimit", "0");
        sysctl6(r, "icmp/ratemask", "\"\"");
    }
    // r2 reports the two unreachable networks by a filter rule: the kernel's
    // own reports for missing routes have a rate limit of their own that no
    // setting of a namespace lifts.
    s << "ip netns exec " << ns("r2") << " nft -f - <<'EOF'\n"
      << "table ip unreach {\n"
      << " chain forward {\n"
      << "  type filter hook forward priority 0;\n"
      << "  ip daddr 10.61.9.0/24 reject with icmp type host-unreachable\n"
      << "  ip daddr 10.61.8.0/24 reject with icmp type net-unreachable\n"
      << " }\n"
      << "}\n"
      << "EOF\n";
    s << "ip netns exec " << ns("r2") << " nft -f - <<'EOF'\n"
      << "table ip6 unreach6 {\n"
      << " chain forward {\n"
      << "  type filter hook forward priority 0;\n"
      << "  ip6 daddr fd00:61:9::/64 reject with icmpv6 type addr-unreachable\n"
      << " }\n"
      << "}\n"
      << "EOF\n";
    // far holds all of 10.61.10.0/24; only every tenth address answers.
    s << "ip netns exec " << ns("far") << " nft -f - <<'EOF'\n"
      << "table ip tenth {\n"
      << " chain input {\n"
      << "  type filter hook input priority 0;\n"
      << "  ip daddr 10.61.10.0/24 ip daddr != { ";
    for (int host = 10; host <= 250; host += 10)
        s << (host > 10 ? ", " : "") << "10.61.10." << host;
    s << " } icmp type echo-request drop\n"
      << " }\n"
      << "}\n"
      << "EOF\n";
    // The forger sends replies in the name of other hosts: r3 forwards them
    // without checking where their source lives.
    for (const char* conf : {"all", "default", "r3d"})
        sysctl("r3", (std::string("conf/") + conf + "/rp_filter").c_str(), "0");
    sysctl("quiet", "ip_default_ttl", "255");
    sysctl("forger", "ip_default_ttl", "255");
    sysctl("quiet", "icmp_echo_ignore_all", "1");
    sysctl6("quiet", "icmp/echo_ignore_all", "1");
    sysctl("cli", "ping_group_range", "\"0 2147483647\"");
    // The DNS server lives on r1 and knows the zone nsd.test only; every
    // other private reverse name, IPv4 or unique-local IPv6, is answered as
    // nonexistent.
    s << "ip netns exec " << ns("r1") << " dnsmasq --conf-file=/dev/null --no-resolv --no-hosts"
      << " --bogus-priv --local=/nsd.test/ --local=/d.f.ip6.arpa/ --listen-address=10.61.1.1"
      << " --bind-interfaces"
      << " --user=root --pid-file=" << workDir << "/dnsmasq.pid"
      << " --host-record=r1.nsd.test,10.61.1.1 --host-record=r2.nsd.test,10.61.2.2"
      << " --host-record=r3.nsd.test,10.61.3.2 --host-record=far.nsd.test,10.61.4.2"
      << " --host-record=quiet.nsd.test,10.61.5.2"
      // IPv6: a name with an AAAA record only, a name with both (which
      // names no address in reverse), and the routers' reverse names.
      << " --host-record=six.nsd.test,fd00:61:4::2"
      << " --address=/dual.nsd.test/10.61.4.2 --address=/dual.nsd.test/fd00:61:4::2"
      << " --ptr-record=" << reverse6("fd00:61:1::1") << ",r1.nsd.test"
      << " --ptr-record=" << reverse6("fd00:61:2::2") << ",r2.nsd.test"
      << " --ptr-record=" << reverse6("fd00:61:3::2") << ",r3.nsd.test"
      << " --ptr-record=" << reverse6("fd00:61:5::2") << ",quiet.nsd.test\n";
    return s.str();
}

void teardown() {
    std::ifstream pidFile(workDir + "/dnsmasq.pid");
    pid_t pid = 0;
    if (pidFile >> pid && pid > 0)
        ::kill(pid, SIGTERM);
    for (const char* n : kNodes)
        run("ip netns del " + ns(n));
    if (!workDir.empty())
        run("rm -rf " + workDir);
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream f(path);
    f << text;
    return bool(f);
}

// Runs this process inside the client namespace with its own view of the
// resolver's files, as `ip netns exec` does.
bool enterClient() {
    int fd = ::open(("/var/run/netns/" + ns("cli")).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    if (!ok || ::unshare(CLONE_NEWNS) != 0)
        return false;
    if (::mount(nullptr, "/", nullptr, MS_SLAVE | MS_REC, nullptr) != 0)
        return false;
    return ::mount((workDir + "/resolv.conf").c_str(), "/etc/resolv.conf", nullptr, MS_BIND,
                   nullptr) == 0 &&
           ::mount((workDir + "/hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0;
}

// Namespaces and DNS servers left behind by a test program that died before
// it could tear its network down: their owner's process is gone.
void removeStaleNetworks() {
    run("for n in $(ip netns list | cut -d' ' -f1 | grep -E '^nsd[0-9]+-'); do "
        "p=${n#nsd}; p=${p%%-*}; kill -0 $p 2>/dev/null || ip netns del $n; done");
    run("for d in /tmp/netsonde-net-*; do [ -f $d/owner ] || continue; "
        "kill -0 $(cat $d/owner) 2>/dev/null && continue; "
        "[ -f $d/dnsmasq.pid ] && kill $(cat $d/dnsmasq.pid); rm -rf $d; done");
}

} // namespace

void RequestTestNetwork() {
    requested = true;
}

void EnterRequestedTestNetwork(bool onlyListing) {
    if (!requested || onlyListing)
        return;
    if (::geteuid() != 0) {
        problem = "the test network needs root";
        return;
    }
    if (!run("command -v ip") || !run("command -v dnsmasq")) {
        problem = "the test network needs iproute2 and dnsmasq";
        return;
    }
    removeStaleNetworks();
    prefix = "nsd" + std::to_string(::getpid());
    char dir[] = "/tmp/netsonde-net-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        problem = "no temporary folder";
        return;
    }
    workDir = dir;
    writeFile(workDir + "/owner", std::to_string(::getpid()) + "\n");
    writeFile(workDir + "/resolv.conf",
              "nameserver 10.61.1.1\noptions timeout:2 attempts:2\nsearch nsd.test\n");
    writeFile(workDir + "/hosts", "127.0.0.1 localhost\n");
    std::string script = workDir + "/build.sh";
    writeFile(script, buildScript());
    if (!run("sh " + script)) {
        problem = "building the namespaces failed";
        teardown();
        return;
    }
    if (!enterClient()) {
        problem = "entering the client namespace failed";
        teardown();
        return;
    }
    inside = true;
    problem.clear();
}

void LeaveTestNetwork() {
    if (!prefix.empty())
        teardown();
    inside = false;
}

bool InTestNetwork() {
    return inside;
}
std::string TestNetworkProblem() {
    return problem;
}

std::string NodeNamespace(const char* node) {
    return inside ? ns(node) : std::string();
}

int SocketInNode(const char* node, int type, int protocol, int family) {
    if (!inside)
        return -1;
    // A thread's network namespace is its own: a short-lived thread enters
    // the node's namespace and opens the socket there, which stays in that
    // namespace for its whole life.
    int fd = -1;
    std::thread([&] {
        int nsFd = ::open(("/var/run/netns/" + ns(node)).c_str(), O_RDONLY | O_CLOEXEC);
        if (nsFd < 0)
            return;
        if (::setns(nsFd, CLONE_NEWNET) == 0)
            fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
        ::close(nsFd);
    }).join();
    return fd;
}

} // namespace netsonde::test

// Raw ICMP echo for a process without capabilities: the echo broker, run as
// installed (root:group 0750, cap_net_raw) by a member of its group in a
// network namespace that refuses datagram ICMP. What a member can make it
// do, what it lets through, how it ends, and the echo engine on top of it.
// Needs root (to play the unprivileged user and to give a copy of the
// helper its capability).
#include "platform/RawIcmpSockets.h"

#include "icmp-helper-protocol.h"
#include "platform/IcmpService.h"
#include "platform/LastError.h"
#include "support/IpFamily.h"
#include "support/PrivateNetwork.h"

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <gtest/gtest.h>
#include <sys/un.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace raw = platform::rawicmp;
using netsonde::test::Family4;
using netsonde::test::Family6;

namespace {

const bool privateNetwork = (netsonde::test::RequestPrivateNetwork(), true);

constexpr uid_t kUser = 65534;     // nobody
constexpr gid_t kGroup = 65534;    // the helper's group
constexpr gid_t kOutsider = 65532; // a group the helper does not admit

std::string statusField(const std::string& pid, const std::string& name) {
    std::ifstream in("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name + ":", 0) == 0) {
            std::string value = line.substr(name.size() + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            return value;
        }
    return "?";
}

int openFdCount() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

bool isRawIcmp(int fd, int family) {
    int domain = 0, type = 0, protocol = 0;
    socklen_t length = sizeof(int);
    ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length);
    ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length);
    ::getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &length);
    return domain == family && type == SOCK_RAW &&
           protocol == (family == AF_INET ? int{IPPROTO_ICMP} : int{IPPROTO_ICMPV6});
}

// A directory everybody may enter, removed with everything in it.
struct Scratch {
    fs::path dir;
    Scratch() {
        char name[] = "/tmp/netsonde-helper-XXXXXX";
        dir = ::mkdtemp(name);
        fs::permissions(dir, fs::perms(0755));
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
};

// A copy of the helper installed as the package installs it: 0750
// root:group with cap_net_raw in its permitted and effective sets.
fs::path installHelper(const Scratch& scratch, gid_t group) {
    fs::path path = scratch.dir / "icmp-helper";
    fs::copy_file(NETSONDE_ICMP_HELPER, path);
    EXPECT_EQ(::chown(path.c_str(), 0, group), 0);
    EXPECT_EQ(::chmod(path.c_str(), 0750), 0);
    vfs_cap_data caps{};
    caps.magic_etc = VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE;
    caps.data[0].permitted = 1u << CAP_NET_RAW;
    EXPECT_EQ(::setxattr(path.c_str(), "security.capability", &caps, XATTR_CAPS_SZ_2, 0), 0)
        << std::strerror(errno);
    return path;
}

// Runs check in a child process as nobody with the given group and no
// capability; returns what the check found wrong ("" when nothing).
std::string runAs(gid_t group, const std::function<std::string()>& check) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return "no pipe";
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::string found;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(group, group, group) != 0 ||
            ::setresuid(kUser, kUser, kUser) != 0)
            found = "could not become the unprivileged user";
        else
            found = check();
        [[maybe_unused]] ssize_t n = ::write(pipeFds[1], found.data(), found.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string found;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        found.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        found += " (the child ended abnormally)";
    return found;
}

// Starts a helper with the given arguments and the channel (a socket pair
// of the given type) as fd 3, or no channel; returns its pid and our end.
pid_t spawnHelper(const std::string& path, std::vector<std::string> args, int& channel,
                  bool withChannel = true, int type = SOCK_SEQPACKET) {
    int pair[2];
    ::socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, pair);
    int theirs = ::fcntl(pair[1], F_DUPFD_CLOEXEC, 10);
    ::close(pair[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (withChannel)
        posix_spawn_file_actions_adddup2(&actions, theirs, 3);
    std::vector<char*> argv{const_cast<char*>("icmp-helper")};
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    char* envp[] = {nullptr};
    pid_t pid = -1;
    int error = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    ::close(theirs);
    channel = pair[0];
    return error == 0 ? pid : -1;
}

// One message from the broker, and whether it came with any control data
// (a descriptor above all). Empty at the end of the channel.
struct Received {
    std::vector<std::uint8_t> bytes;
    bool control = false;
};
Received receiveOne(int channel, int flags = 0) {
    Received r;
    r.bytes.resize(sizeof(icmp_broker_answer) + ICMP_BROKER_MAX_DATA + 1);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 32)];
    iovec iov{r.bytes.data(), r.bytes.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(channel, &msg, MSG_CMSG_CLOEXEC | flags);
    r.bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    if (n < 0)
        return r;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        r.control = true;
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS)
            for (std::size_t i = 0; i < (c->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                ::close(fd);
            }
    }
    return r;
}

int exitStatus(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::uint8_t> request(std::uint32_t tag, const char* address, const std::string& data,
                                  std::uint32_t timeoutMs = 2000) {
    icmp_broker_request r{};
    r.magic = ICMP_BROKER_MAGIC;
    r.tag = tag;
    r.ttl = 64;
    r.timeout_ms = timeoutMs;
    r.data_length = static_cast<std::uint32_t>(data.size());
    if (::inet_pton(AF_INET, address, r.address) == 1) {
        r.family = ICMP_BROKER_INET;
    } else {
        r.family = ICMP_BROKER_INET6;
        ::inet_pton(AF_INET6, address, r.address);
    }
    std::vector<std::uint8_t> m(sizeof r);
    std::memcpy(m.data(), &r, sizeof r);
    m.insert(m.end(), data.begin(), data.end());
    return m;
}

bool sendMessage(int channel, const std::vector<std::uint8_t>& m) {
    return ::send(channel, m.data(), m.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(m.size());
}

bool writeRange(const char* text) {
    std::ofstream out("/proc/sys/net/ipv4/ping_group_range");
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

class RawSockets : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root";
        if (!netsonde::test::InPrivateNetwork())
            GTEST_SKIP() << "needs a network namespace of its own";
        helper = installHelper(scratch, kGroup);
        ASSERT_TRUE(writeRange("1 0"));
    }
    void TearDown() override {
        EXPECT_TRUE(writeRange("0 2147483647"));
        raw::SetHelperPathForTesting(std::nullopt);
    }
    Scratch scratch;
    fs::path helper;
};

TEST_F(RawSockets, TheBrokerNeverHandsOverADescriptorWhateverItIsRunWith) {
    std::string found = runAs(kGroup, [&] {
        std::string f;
        struct Shape {
            std::vector<std::string> args;
            bool channel;
            int type;
        };
        for (const Shape& shape : std::vector<Shape>{{{}, true, SOCK_SEQPACKET},
                                                     {{"1", "1"}, true, SOCK_SEQPACKET},
                                                     {{"16", "16"}, true, SOCK_SEQPACKET},
                                                     {{"--help"}, true, SOCK_SEQPACKET},
                                                     {{}, true, SOCK_STREAM},
                                                     {{}, true, SOCK_DGRAM},
                                                     {{}, false, SOCK_SEQPACKET}}) {
            const std::string name = std::to_string(shape.args.size()) + " argument(s), type " +
                                     std::to_string(shape.type) +
                                     (shape.channel ? "" : ", no channel");
            int channel = -1;
            pid_t pid = spawnHelper(helper, shape.args, channel, shape.channel, shape.type);
            if (pid < 0)
                return "the helper did not start: " + name;
            const bool proper = shape.args.empty() && shape.channel && shape.type == SOCK_SEQPACKET;
            // Run any other way, it must end at once with nothing sent (a
            // datagram channel does not tell the end, so it is read after).
            int status = proper ? -1 : exitStatus(pid);
            Received hello = receiveOne(channel, proper ? 0 : MSG_DONTWAIT);
            if (hello.control)
                f += name + ": a descriptor came with the greeting; ";
            if (!hello.bytes.empty() && !proper)
                f += name + ": greeted; ";
            if (!hello.bytes.empty()) {
                // Even an answered request brings no descriptor.
                sendMessage(channel, request(1, "127.0.0.1", "abc"));
                Received answer = receiveOne(channel);
                if (answer.control || answer.bytes.size() != sizeof(icmp_broker_answer) + 3)
                    f += name + ": the answer was not one plain message; ";
                const std::string p = std::to_string(pid);
                for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
                    if (statusField(p, set) != "0000000000000000")
                        f += std::string(set) + " " + statusField(p, set) + "; ";
                if (statusField(p, "NoNewPrivs") != "1")
                    f += "no-new-privs is not set; ";
                // A process that is not dumpable has its /proc files owned by root.
                struct stat st {};
                if (::stat(("/proc/" + p + "/status").c_str(), &st) != 0 || st.st_uid != 0)
                    f += "the broker is dumpable; ";
            }
            ::close(channel);
            if (proper)
                status = exitStatus(pid);
            if (!proper && status != 2)
                f += name + ": exit status " + std::to_string(status) + "; ";
        }
        return f;
    });
    EXPECT_EQ(found, "");
}

TEST_F(RawSockets, MalformedOversizedOrOutOfOrderMessagesEndTheBrokerWithoutAnAnswer) {
    auto with = [](auto change) {
        std::vector<std::uint8_t> m = request(1, "127.0.0.1", "abcd");
        auto* r = reinterpret_cast<icmp_broker_request*>(m.data());
        change(*r, m);
        return m;
    };
    struct Case {
        const char* what;
        std::vector<std::vector<std::uint8_t>> messages;
    };
    const std::vector<Case> cases{
        {"short", {{1, 2, 3}}},
        {"bad magic", {with([](auto& r, auto&) { r.magic = 0; })}},
        {"tag out of order", {request(2, "127.0.0.1", "x")}},
        {"tag repeated", {request(1, "127.0.0.1", "x"), request(1, "127.0.0.1", "x")}},
        {"unknown family", {with([](auto& r, auto&) { r.family = 5; })}},
        {"TTL 0", {with([](auto& r, auto&) { r.ttl = 0; })}},
        {"no time-out", {with([](auto& r, auto&) { r.timeout_ms = 0; })}},
        {"endless time-out", {with([](auto& r, auto&) { r.timeout_ms = 600001; })}},
        {"reserved byte", {with([](auto& r, auto&) { r.reserved = 1; })}},
        {"IPv4 with a scope", {with([](auto& r, auto&) { r.scope_id = 1; })}},
        {"IPv4 with more address", {with([](auto& r, auto&) { r.address[15] = 1; })}},
        {"data shorter than said", {with([](auto& r, auto&) { r.data_length = 5; })}},
        {"data longer than said", {with([](auto&, auto& m) { m.push_back(0); })}},
        {"oversized", {request(1, "127.0.0.1", std::string(ICMP_BROKER_MAX_DATA + 1, 'x'))}},
    };
    std::string found = runAs(kGroup, [&] {
        std::string f;
        for (const Case& c : cases) {
            int channel = -1;
            pid_t pid = spawnHelper(helper, {}, channel);
            if (receiveOne(channel).bytes.size() != sizeof(icmp_broker_hello))
                f += std::string(c.what) + ": no greeting; ";
            for (const auto& m : c.messages)
                sendMessage(channel, m);
            // The good first message of "tag repeated" is answered; then
            // nothing more comes but the end of the channel.
            Received r = receiveOne(channel);
            if (std::string(c.what) == "tag repeated")
                r = receiveOne(channel);
            if (!r.bytes.empty())
                f += std::string(c.what) + ": answered; ";
            ::close(channel);
            if (int status = exitStatus(pid); status != 3)
                f += std::string(c.what) + ": exit status " + std::to_string(status) + "; ";
        }
        // The program closing its end ends the broker, even with requests held.
        int channel = -1;
        pid_t pid = spawnHelper(helper, {}, channel);
        receiveOne(channel);
        sendMessage(channel, request(1, netsonde::test::SilentAddress(), "x", 60000));
        ::close(channel);
        if (int status = exitStatus(pid); status != 0)
            f += "closed channel: exit status " + std::to_string(status);
        return f;
    });
    EXPECT_EQ(found, "");
}

// Another user's traffic on the same host while a member's broker works:
// echo requests with their own data, answered by loopback, and UDP to a
// closed port, answered with errors that quote it.
class OtherUsersTraffic {
public:
    OtherUsersTraffic() {
        thread_ = std::thread([this] {
            int icmp = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
            int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            to.sin_port = htons(9);
            std::uint8_t echo[8 + 16] = {8, 0, 0, 0, 0x12, 0x34};
            std::memcpy(echo + 8, "password=hunter2", 16);
            for (std::uint16_t seq = 0; !stop_.load(); ++seq) {
                echo[6] = static_cast<std::uint8_t>(seq >> 8);
                echo[7] = static_cast<std::uint8_t>(seq);
                echo[2] = echo[3] = 0;
                std::uint32_t sum = 0;
                for (std::size_t i = 0; i < sizeof echo; i += 2)
                    sum += (echo[i] << 8) | echo[i + 1];
                while (sum >> 16)
                    sum = (sum & 0xFFFF) + (sum >> 16);
                echo[2] = static_cast<std::uint8_t>(~sum >> 8);
                echo[3] = static_cast<std::uint8_t>(~sum);
                ::sendto(icmp, echo, sizeof echo, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
                ::sendto(udp, "password=hunter2", 16, 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof to);
                ++sent_;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            ::close(icmp);
            ::close(udp);
        });
        while (sent_.load() < 10)
            std::this_thread::yield();
    }
    ~OtherUsersTraffic() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> sent_{0};
    std::thread thread_;
};

TEST_F(RawSockets, OtherUsersRepliesAndErrorsNeverReachTheProgram) {
    OtherUsersTraffic traffic;
    std::string found = runAs(kGroup, [&] {
        std::string f;
        int channel = -1;
        pid_t pid = spawnHelper(helper, {}, channel);
        if (receiveOne(channel).bytes.size() != sizeof(icmp_broker_hello))
            return std::string("no greeting");
        constexpr std::uint32_t kAnswered = 20, kSilent = 3;
        std::uint32_t tag = 0;
        for (std::uint32_t i = 0; i < kAnswered + kSilent; ++i) {
            ++tag;
            const bool silent = i >= kAnswered;
            sendMessage(channel,
                        request(tag, silent ? netsonde::test::SilentAddress() : "127.0.0.1",
                                "mine-" + std::to_string(tag), silent ? 300 : 2000));
        }
        // Once every request is answered the broker is told to end; whatever
        // it sent before is still read.
        std::vector<int> answers(tag + 1, 0);
        std::uint32_t seen = 0;
        for (;;) {
            Received r = receiveOne(channel);
            if (r.bytes.empty())
                break;
            icmp_broker_answer a{};
            std::memcpy(&a, r.bytes.data(), std::min(sizeof a, r.bytes.size()));
            std::string data(r.bytes.begin() + std::min(sizeof a, r.bytes.size()), r.bytes.end());
            if (a.tag == 0 || a.tag > tag) {
                f += "an answer to tag " + std::to_string(a.tag) + "; ";
                continue;
            }
            ++answers[a.tag];
            const bool silent = a.tag > kAnswered;
            if (!silent &&
                (a.outcome != ICMP_BROKER_ECHO_REPLY || data != "mine-" + std::to_string(a.tag)))
                f += "tag " + std::to_string(a.tag) + " got outcome " + std::to_string(a.outcome) +
                     " with '" + data + "'; ";
            if (silent && a.outcome != ICMP_BROKER_TIMED_OUT)
                f += "the silent tag " + std::to_string(a.tag) + " got outcome " +
                     std::to_string(a.outcome) + "; ";
            if (data.find("password") != std::string::npos)
                f += "another user's data reached the program; ";
            if (++seen == tag)
                ::shutdown(channel, SHUT_WR);
        }
        for (std::uint32_t t = 1; t <= tag; ++t)
            if (answers[t] != 1)
                f += "tag " + std::to_string(t) + " answered " + std::to_string(answers[t]) +
                     " times; ";
        ::close(channel);
        exitStatus(pid);
        return f;
    });
    EXPECT_EQ(found, "");
}

// One echo of 32 bytes on a new handle of the family, which must be raw;
// what went wrong ("" when nothing).
template <class Family> std::string echoOnce(const char* address, std::uint32_t timeoutMs = 2000) {
    using namespace platform::linuxicmp;
    IcmpHandle h = Family::Create();
    if (h == InvalidIcmpHandle)
        return std::string("no handle for ") + address + "; ";
    std::string f;
    if (HandleSocketKind(h) != SocketKind::Raw)
        f += std::string("the handle for ") + address + " is not raw; ";
    std::uint8_t request[32];
    std::memset(request, 0xA5, sizeof request);
    std::uint8_t reply[sizeof(typename Family::Reply) + 32] = {};
    TIpOptions options;
    options.Ttl = 64;
    const std::uint32_t count = Family::SendEcho(h, address, request, sizeof request, &options,
                                                 reply, sizeof reply, timeoutMs);
    if (count != 1 ||
        std::memcmp(reply + sizeof(typename Family::Reply), request, sizeof request) != 0)
        f += std::string("no answer from ") + address + ", error " +
             std::to_string(platform::GetLastError()) + "; ";
    IcmpCloseHandle(h);
    return f;
}

TEST_F(RawSockets, AMemberEchoesThroughOneBrokerAndHoldsNoRawSocketOrCapability) {
    std::string found = runAs(kGroup, [&] {
        using namespace platform::linuxicmp;
        raw::SetHelperPathForTesting(helper.string());
        CloseIdleSockets();
        if (ProbeSocketKind() != SocketKind::Raw)
            return std::string("the probe found no raw path");
        std::string f = echoOnce<Family4>("127.0.0.1") + echoOnce<Family6>("::1") +
                        echoOnce<Family4>("127.0.0.1");
        // The broker's answer carries its own send time and the kernel's
        // receive time, both within the request's call.
        if (std::shared_ptr<raw::IcmpBroker> broker = raw::Broker()) {
            const std::vector<std::uint8_t> data(16, 7);
            raw::IcmpBroker::Echo e;
            e.family = AF_INET;
            e.address = {127, 0, 0, 1};
            e.data = data;
            const std::atomic<bool> stop{false};
            const auto before = std::chrono::steady_clock::now();
            const raw::IcmpBroker::Answer a = broker->echo(e, stop);
            const auto after = std::chrono::steady_clock::now();
            if (a.outcome != raw::IcmpBroker::Outcome::EchoReply)
                f += "no echo reply through the broker; ";
            else if (a.sent < before || a.received < a.sent || a.received > after)
                f += "the broker's times do not lie within the call; ";
        }
        int sockets = 0;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
            int fd = std::stoi(entry.path().filename().string());
            sockets += isRawIcmp(fd, AF_INET) || isRawIcmp(fd, AF_INET6);
        }
        if (sockets != 0)
            f += std::to_string(sockets) + " raw socket(s) in the program; ";
        if (raw::HelperRuns() != 1)
            f += std::to_string(raw::HelperRuns()) + " broker starts; ";
        for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
            if (statusField("self", set) != "0000000000000000")
                f += std::string(set) + " " + statusField("self", set) + "; ";
        if (::socket(AF_PACKET, SOCK_RAW, htons(0x0003)) >= 0 || errno != EPERM)
            f += "a packet socket was allowed; ";
        CloseIdleSockets();
        return f;
    });
    EXPECT_EQ(found, "");
}

TEST_F(RawSockets, ABrokerKilledOrStoppedMidRunFailsItsRequestsAndTheNextRunStartsAnother) {
    std::string found = runAs(kGroup, [&] {
        using namespace platform::linuxicmp;
        raw::SetHelperPathForTesting(helper.string());
        CloseIdleSockets();
        std::string f;
        for (int sig : {SIGKILL, SIGSTOP}) {
            const std::string name = sig == SIGKILL ? "killed: " : "stopped: ";
            if (ProbeSocketKind() != SocketKind::Raw)
                return name + "the probe found no raw path";
            std::shared_ptr<raw::IcmpBroker> broker = raw::RunningBroker();
            constexpr int kRequests = 16;
            const std::uint32_t timeout = sig == SIGKILL ? 20000 : 300;
            std::atomic<int> failed{0};
            std::vector<std::thread> threads;
            for (int i = 0; i < kRequests; ++i)
                threads.emplace_back([&] {
                    if (echoOnce<Family4>(netsonde::test::SilentAddress(), timeout)
                            .find("error 11050") != std::string::npos)
                        ++failed;
                });
            while (WaitingRawRequests() != kRequests)
                std::this_thread::yield();
            const auto start = std::chrono::steady_clock::now();
            ::kill(broker->pid(), sig);
            for (auto& t : threads)
                t.join();
            const auto took = std::chrono::steady_clock::now() - start;
            if (failed.load() != kRequests)
                f += name + std::to_string(failed.load()) + " requests failed; ";
            if (took > std::chrono::milliseconds(timeout) + raw::IcmpBroker::kGrace + 3s)
                f += name + "the requests took too long to fail; ";
            broker.reset();
            const std::size_t starts = raw::HelperRuns();
            f += echoOnce<Family4>("127.0.0.1");
            if (raw::HelperRuns() != starts + 1)
                f += name + "no new broker; ";
        }
        CloseIdleSockets();
        return f;
    });
    EXPECT_EQ(found, "");
}

TEST_F(RawSockets, AMemberRunsOnlyAFewBrokersAtOnce) {
    std::string found = runAs(kGroup, [&] {
        std::string f;
        std::vector<std::shared_ptr<raw::IcmpBroker>> brokers;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 3 * ICMP_BROKER_MAX_PER_USER; ++i) {
            errno = 0;
            auto b = raw::StartBroker(helper.string(), 5s);
            if (b)
                brokers.push_back(b);
            else if (errno != EUSERS)
                f += "start " + std::to_string(i) + ": " + std::strerror(errno) + "; ";
        }
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start);
        std::fprintf(stderr, "%d broker starts took %lld us; %zu run at once\n",
                     3 * ICMP_BROKER_MAX_PER_USER, static_cast<long long>(took.count()),
                     brokers.size());
        if (brokers.size() != ICMP_BROKER_MAX_PER_USER)
            f += std::to_string(brokers.size()) + " brokers at once; ";
        // One that ends frees its place.
        brokers.pop_back();
        if (!raw::StartBroker(helper.string(), 5s))
            f += "no place after one ended; ";
        return f;
    });
    EXPECT_EQ(found, "");
}

// Nobody else can take a member's places: names another user holds (here
// root holds every abstract name a broker once counted itself by) neither
// count nor block; brokers that are stopped still count, and a burst of
// starts at once never runs more than the limit.
TEST_F(RawSockets, NobodyElseTakesAMembersPlacesAndNoBurstGoesPastTheLimit) {
    std::vector<int> squatted;
    for (int slot = 0; slot < 32; ++slot) {
        sockaddr_un name{};
        name.sun_family = AF_UNIX;
        const int length = std::snprintf(name.sun_path + 1, sizeof name.sun_path - 1,
                                         "netsonde-icmp-broker/%u/%d", kUser, slot);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&name),
                         static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length)),
                  0);
        ASSERT_EQ(::listen(fd, 1), 0);
        squatted.push_back(fd);
    }
    std::string found = runAs(kGroup, [&] {
        std::string f;
        std::vector<std::shared_ptr<raw::IcmpBroker>> brokers;
        for (int i = 0; i < ICMP_BROKER_MAX_PER_USER; ++i)
            if (auto b = raw::StartBroker(helper.string(), 5s))
                brokers.push_back(b);
        if (brokers.size() != ICMP_BROKER_MAX_PER_USER)
            f += std::to_string(brokers.size()) + " brokers beside the squatter; ";
        for (const auto& b : brokers)
            ::kill(b->pid(), SIGSTOP);
        errno = 0;
        if (raw::StartBroker(helper.string(), 5s) || errno != EUSERS)
            f += "a broker beside four stopped ones; ";
        for (const auto& b : brokers)
            ::kill(b->pid(), SIGCONT);
        brokers.clear();

        std::vector<std::shared_ptr<raw::IcmpBroker>> burst(4 * ICMP_BROKER_MAX_PER_USER);
        std::vector<std::thread> starts;
        for (auto& b : burst)
            starts.emplace_back([&b, this] { b = raw::StartBroker(helper.string(), 5s); });
        for (std::thread& t : starts)
            t.join();
        const auto running =
            std::count_if(burst.begin(), burst.end(), [](const auto& b) { return b != nullptr; });
        if (running > ICMP_BROKER_MAX_PER_USER)
            f += std::to_string(running) + " brokers from one burst; ";
        return f;
    });
    for (int fd : squatted)
        ::close(fd);
    EXPECT_EQ(found, "");
}

TEST_F(RawSockets, AHelperThatFailsToGreetGivesNoBrokerAndLeavesNothing) {
    struct Case {
        const char* mode;
        int error;
    };
    for (Case c : {Case{"silent-exit", EPROTO}, Case{"bad-magic", EPROTO}, Case{"refuses", EUSERS},
                   Case{"hang", ETIMEDOUT}}) {
        fs::path fake = scratch.dir / c.mode;
        fs::copy_file(NETSONDE_FAKE_ICMP_HELPER, fake);
        const int before = openFdCount();
        errno = 0;
        EXPECT_EQ(raw::StartBroker(fake, c.error == ETIMEDOUT ? 200ms : 20s), nullptr) << c.mode;
        EXPECT_EQ(errno, c.error) << c.mode << ": " << std::strerror(errno);
        EXPECT_EQ(openFdCount(), before) << c.mode << " left a descriptor open";
        errno = 0;
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << c.mode << " was not reaped";
    }
    errno = 0;
    EXPECT_EQ(raw::StartBroker((scratch.dir / "missing").string(), 20s), nullptr);
    EXPECT_EQ(errno, ENOENT);
    // A member outside the group is refused the helper itself.
    std::string found = runAs(kOutsider, [&] {
        raw::SetHelperPathForTesting(helper.string());
        errno = 0;
        if (raw::Broker() != nullptr || errno != EACCES)
            return std::string("an outsider got a broker: ") + std::strerror(errno);
        return std::string();
    });
    EXPECT_EQ(found, "");
}

// A copy of this test program started with --print-helper-candidates
// prints where it would look for the helper and ends before any test runs:
// the test below runs it from another folder.
[[maybe_unused]] const bool PrintsHelperCandidates = [] {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string args((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (args.find("--print-helper-candidates") == std::string::npos)
        return false;
    for (const std::string& path : raw::HelperCandidates())
        std::printf("candidate %s\n", path.c_str());
    std::fflush(stdout);
    ::_exit(0);
}();

TEST(HelperPath, OnlyTheInstalledPathAndTheBuildTreeOfAProgramRunFromThere) {
    std::vector<std::string> paths = raw::HelperCandidates();
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths[0], NETSONDE_INSTALLED_HELPER_FOR_TESTS);
    // This test program runs from the build tree.
    EXPECT_EQ(paths.size(), 2u);
    // A copy of it elsewhere looks only where the helper was installed.
    Scratch scratch;
    fs::path copy = scratch.dir / "copy";
    fs::copy_file("/proc/self/exe", copy);
    fs::copy_file(NETSONDE_ICMP_HELPER, scratch.dir / "icmp-helper");
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::execl(copy.c_str(), "copy", "--print-helper-candidates", nullptr);
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    ::waitpid(pid, nullptr, 0);
    EXPECT_NE(out.find("candidate " + std::string(NETSONDE_INSTALLED_HELPER_FOR_TESTS)),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("candidate " + (scratch.dir / "icmp-helper").string()), std::string::npos);
    EXPECT_EQ(out.find("/src/app/icmp-helper"), std::string::npos) << out;
}

} // namespace

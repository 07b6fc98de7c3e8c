// Raw ICMP sockets for a process without capabilities: the helper program
// that opens them and drops its own capability, the hand-over over a socket
// pair with every way a helper can fail it, and the echo engine on the raw
// path as an unprivileged user who may run the helper. Needs root (to play
// the unprivileged user and to give a copy of the helper its capability).
#include "platform/RawIcmpSockets.h"
#include "platform/IcmpService.h"
#include "platform/LastError.h"
#include "support/PrivateNetwork.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace raw = platform::rawicmp;

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

// Starts a helper with the given arguments and the channel as fd 3 (or no
// channel); returns its pid and our end of the channel.
pid_t spawnHelper(const std::string& path, std::vector<std::string> args, int& channel,
                  bool withChannel = true) {
    int pair[2];
    ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair);
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

// Receives the helper's message; returns the number of sockets in it, or -1
// when the helper closed the channel without a message.
int receiveCount(int channel) {
    char data[64];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 32)];
    iovec iov{data, sizeof data};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(channel, &msg, MSG_CMSG_CLOEXEC);
    if (n <= 0)
        return -1;
    int count = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        int k = static_cast<int>((c->cmsg_len - CMSG_LEN(0)) / sizeof(int));
        for (int i = 0; i < k; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            ::close(fd);
        }
        count += k;
    }
    return count;
}

int exitStatus(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class RawSockets : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root";
    }
    void TearDown() override { raw::SetHelperPathForTesting(std::nullopt); }
};

TEST_F(RawSockets, HelperHandsOverRawSocketsOfBothFamiliesInOrder) {
    const int before = openFdCount();
    raw::HelperSockets got = raw::RunHelper(NETSONDE_ICMP_HELPER, 2, 1, 5s);
    ASSERT_EQ(got.error, 0) << std::strerror(got.error);
    ASSERT_EQ(got.inet.size(), 2u);
    ASSERT_EQ(got.inet6.size(), 1u);
    for (int fd : got.inet)
        EXPECT_TRUE(isRawIcmp(fd, AF_INET));
    EXPECT_TRUE(isRawIcmp(got.inet6[0], AF_INET6));
    for (int fd : got.inet)
        EXPECT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    for (int fd : got.inet)
        ::close(fd);
    ::close(got.inet6[0]);
    EXPECT_EQ(openFdCount(), before) << "the channel or a socket was left open";
}

// What the helper holds while it waits for its caller to take the sockets:
// as root (which it must not stay either) and as a group member through the
// file capability, as installed.
std::string helperHoldsNothingOnceItSends(const std::string& helper, bool root) {
    int channel = -1;
    pid_t pid = spawnHelper(helper, {"1", "1"}, channel);
    if (pid < 0)
        return "the helper did not start";
    std::string found;
    if (receiveCount(channel) != 2)
        found += "two sockets were not sent; ";
    const std::string p = std::to_string(pid);
    for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
        if (statusField(p, set) != "0000000000000000")
            found += std::string(set) + " " + statusField(p, set) + "; ";
    if (root && statusField(p, "CapBnd") != "0000000000000000")
        found += "CapBnd " + statusField(p, "CapBnd") + "; ";
    if (statusField(p, "NoNewPrivs") != "1")
        found += "no-new-privs is not set; ";
    ::close(channel);
    if (int status = exitStatus(pid); status != 0)
        found += "exit status " + std::to_string(status);
    return found;
}

TEST_F(RawSockets, HelperDropsEveryCapabilityBeforeItSends) {
    EXPECT_EQ(helperHoldsNothingOnceItSends(NETSONDE_ICMP_HELPER, true), "");
    Scratch scratch;
    fs::path helper = installHelper(scratch, kGroup);
    EXPECT_EQ(runAs(kGroup, [&] { return helperHoldsNothingOnceItSends(helper, false); }), "");
}

TEST_F(RawSockets, HelperRefusesAnythingButTwoSmallCountsAndAChannel) {
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"17", "0"}, {"0", "0"}, {"x", "1"}, {"1"}, {"1", "1", "1"}, {"-1", "2"}, {"", "1"}}) {
        int channel = -1;
        pid_t pid = spawnHelper(NETSONDE_ICMP_HELPER, args, channel);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(receiveCount(channel), -1) << args[0];
        EXPECT_EQ(exitStatus(pid), 2) << args[0];
        ::close(channel);
    }
    int channel = -1;
    pid_t pid = spawnHelper(NETSONDE_ICMP_HELPER, {"1", "0"}, channel, false);
    EXPECT_EQ(exitStatus(pid), 2) << "fd 3 is not a socket";
    ::close(channel);
}

TEST_F(RawSockets, AHelperThatFailsTheHandOverGivesNothingAndLeavesNothing) {
    Scratch scratch;
    struct Case {
        const char* mode;
        int error;
    };
    for (Case c : {Case{"silent-exit", EPROTO}, Case{"too-few", EPROTO}, Case{"too-many", EPROTO},
                   Case{"wrong-kind", EPROTO}, Case{"bad-magic", EPROTO}, Case{"refuses", EPERM},
                   Case{"hang", ETIMEDOUT}}) {
        fs::path fake = scratch.dir / c.mode;
        fs::copy_file(NETSONDE_FAKE_ICMP_HELPER, fake);
        const int before = openFdCount();
        raw::HelperSockets got = raw::RunHelper(fake, 2, 1, c.error == ETIMEDOUT ? 200ms : 20s);
        EXPECT_EQ(got.error, c.error) << c.mode << ": " << std::strerror(got.error);
        EXPECT_TRUE(got.inet.empty() && got.inet6.empty()) << c.mode;
        EXPECT_EQ(openFdCount(), before) << c.mode << " left a descriptor open";
        errno = 0;
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << c.mode << " was not reaped";
        EXPECT_EQ(errno, ECHILD) << c.mode;
    }
    fs::path honest = scratch.dir / "honest";
    fs::copy_file(NETSONDE_FAKE_ICMP_HELPER, honest);
    raw::HelperSockets got = raw::RunHelper(honest, 1, 0, 20s);
    EXPECT_EQ(got.error, 0);
    ASSERT_EQ(got.inet.size(), 1u);
    ::close(got.inet[0]);

    EXPECT_EQ(raw::RunHelper((scratch.dir / "missing").string(), 1, 0, 20s).error, ENOENT);
    fs::path plain = scratch.dir / "not-executable";
    std::ofstream(plain) << "#!/bin/sh\n";
    EXPECT_EQ(raw::RunHelper(plain.string(), 1, 0, 20s).error, EACCES);
    EXPECT_EQ(raw::RunHelper(honest, 17, 0, 20s).error, EINVAL);
}

TEST_F(RawSockets, AGroupMemberGetsRawSocketsButNoCapability) {
    Scratch scratch;
    fs::path helper = installHelper(scratch, kGroup);
    std::string found = runAs(kGroup, [&] {
        std::string f;
        raw::SetHelperPathForTesting(helper.string());
        if (::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP) >= 0)
            return std::string("the test user may open raw sockets itself");
        for (int family : {AF_INET, AF_INET6, AF_INET}) {
            int fd = raw::OpenRawSocket(family);
            if (fd < 0 || !isRawIcmp(fd, family))
                f += "no raw socket of family " + std::to_string(family) + "; ";
            ::close(fd);
        }
        for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
            if (statusField("self", set) != "0000000000000000")
                f += std::string(set) + " " + statusField("self", set) + "; ";
        if (::socket(AF_PACKET, SOCK_RAW, htons(0x0003)) >= 0 || errno != EPERM)
            f += "a packet socket was allowed; ";
        return f;
    });
    EXPECT_EQ(found, "");
}

TEST_F(RawSockets, AUserOutsideTheGroupGetsNoRawSocket) {
    Scratch scratch;
    fs::path helper = installHelper(scratch, kGroup);
    std::string found = runAs(kOutsider, [&] {
        std::string f;
        raw::SetHelperPathForTesting(helper.string());
        for (int attempt = 0; attempt < 2; ++attempt) {
            errno = 0;
            int fd = raw::OpenRawSocket(AF_INET);
            if (fd >= 0 || errno != EACCES)
                f += "attempt " + std::to_string(attempt) + ": fd " + std::to_string(fd) + ", " +
                     std::strerror(errno) + "; ";
        }
        raw::SetHelperPathForTesting((scratch.dir / "missing").string());
        if (raw::OpenRawSocket(AF_INET) >= 0 || errno != EACCES)
            f += "a missing helper did not end in EACCES; ";
        return f;
    });
    EXPECT_EQ(found, "");
}

bool writeRange(const char* text) {
    std::ofstream out("/proc/sys/net/ipv4/ping_group_range");
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

TEST_F(RawSockets, EchoOnTheRawPathForAGroupMemberWithoutDatagramSockets) {
    using namespace platform::linuxicmp;
    if (!netsonde::test::InPrivateNetwork())
        GTEST_SKIP() << "needs a network namespace of its own";
    Scratch scratch;
    fs::path helper = installHelper(scratch, kGroup);
    ASSERT_EQ(::chown(scratch.dir.c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod(scratch.dir.c_str(), 0775), 0);
    ASSERT_TRUE(writeRange("1 0"));
    std::string found = runAs(kGroup, [&] {
        raw::SetHelperPathForTesting(helper.string());
        CloseIdleSockets();
        if (ProbeSocketKind() != SocketKind::Raw)
            return std::string("the probe found no raw socket");
        // With the helper gone, the handles must take the sockets that the
        // probe's run of it left, not ask again.
        std::error_code error;
        if (!fs::remove(helper, error))
            return "could not remove the helper: " + error.message();
        std::string f;
        std::vector<IcmpHandle> handles;
        for (int i = 0; i < 3; ++i) {
            IcmpHandle h = IcmpCreateFile();
            if (h == InvalidIcmpHandle || HandleSocketKind(h) != SocketKind::Raw) {
                f += "handle " + std::to_string(i) + " is not raw; ";
                continue;
            }
            handles.push_back(h);
            std::uint8_t request[32];
            std::memset(request, 0xAA, sizeof request);
            std::uint8_t reply[sizeof(TEchoReply) + 32];
            TIpOptions options;
            options.Ttl = 64;
            if (IcmpSendEcho(h, htonl(INADDR_LOOPBACK), request, sizeof request, &options, reply,
                             sizeof reply, 2000) != 1)
                f += "no answer on handle " + std::to_string(i) + ", error " +
                     std::to_string(platform::GetLastError()) + "; ";
        }
        for (IcmpHandle h : handles)
            IcmpCloseHandle(h);
        CloseIdleSockets();
        return f;
    });
    EXPECT_TRUE(writeRange("0 2147483647"));
    EXPECT_EQ(found, "");
}

TEST_F(RawSockets, SixtyFourRawRequestsAtOnceRunTheHelperOnceForOneSocket) {
    // A look-ahead Check All has up to 64 requests in flight; on the raw
    // path they share one socket, which the probe's one run of the helper
    // gave.
    using namespace platform::linuxicmp;
    if (!netsonde::test::InPrivateNetwork())
        GTEST_SKIP() << "needs a network namespace of its own";
    Scratch scratch;
    fs::path helper = installHelper(scratch, kGroup);
    ASSERT_TRUE(writeRange("1 0"));
    std::string found = runAs(kGroup, [&] {
        raw::SetHelperPathForTesting(helper.string());
        CloseIdleSockets();
        const std::size_t runsBefore = raw::HelperRuns();
        if (ProbeSocketKind() != SocketKind::Raw)
            return std::string("the probe found no raw socket");
        constexpr int kRequests = 64;
        std::vector<IcmpHandle> handles;
        for (int i = 0; i < kRequests; ++i)
            handles.push_back(IcmpCreateFile());
        std::atomic<int> answered{0}, ready{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < kRequests; ++i)
            threads.emplace_back([&, i] {
                std::uint8_t request[32];
                std::memset(request, i, sizeof request);
                std::uint8_t reply[sizeof(TEchoReply) + 32];
                TIpOptions options;
                options.Ttl = 64;
                ++ready;
                while (ready.load() < kRequests)
                    std::this_thread::yield();
                if (IcmpSendEcho(handles[i], htonl(INADDR_LOOPBACK), request, sizeof request,
                                 &options, reply, sizeof reply, 3000) == 1 &&
                    std::memcmp(reply + sizeof(TEchoReply), request, sizeof request) == 0)
                    ++answered;
            });
        for (auto& t : threads)
            t.join();
        int sockets = 0;
        for (int fd = 0; fd < 1024; ++fd)
            sockets += isRawIcmp(fd, AF_INET);
        const std::size_t runs = raw::HelperRuns() - runsBefore;
        for (IcmpHandle h : handles)
            IcmpCloseHandle(h);
        CloseIdleSockets();
        std::fprintf(stderr, "%d concurrent raw requests: %zu helper run(s), %d raw socket(s)\n",
                     kRequests, runs, sockets);
        std::string f;
        if (answered.load() != kRequests)
            f += std::to_string(answered.load()) + " of 64 answered; ";
        if (runs != 1)
            f += std::to_string(runs) + " helper runs; ";
        if (sockets != 1)
            f += std::to_string(sockets) + " raw sockets; ";
        return f;
    });
    EXPECT_TRUE(writeRange("0 2147483647"));
    EXPECT_EQ(found, "");
}

} // namespace

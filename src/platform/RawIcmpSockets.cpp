#include "platform/RawIcmpSockets.h"

#include "icmp-helper-protocol.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform::rawicmp {

namespace {

// The channel's number in the helper.
constexpr int kChannelFd = 3;
// Sockets asked of the helper at once: one for the caller, the rest kept.
// The echo engine shares one raw socket per family between all its
// requests, so one is all it needs; more would only sit there, each
// receiving a copy of every ICMP packet the host gets.
constexpr int kBatch = 1;
// Most sockets kept per family.
constexpr std::size_t kKept = 8;
constexpr std::chrono::milliseconds kHelperTimeout{5000};
// How long a helper that has sent its sockets may take to end.
constexpr int kExitWaitMs = 1000;

int protocolOf(int family) {
    return family == AF_INET6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP};
}

int slotOf(int family) {
    return family == AF_INET6 ? 1 : 0;
}

std::mutex stockMutex;
std::array<std::vector<int>, 2> kept;
bool helperFailed = false;
int helperError = 0;
std::optional<std::string> testingPath;
std::atomic<std::size_t> helperRuns{0};

// Whether fd is a raw socket of the family and its ICMP protocol.
bool isRawIcmp(int fd, int family) {
    int domain = 0, type = 0, protocol = 0;
    socklen_t length = sizeof domain;
    if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0)
        return false;
    length = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0)
        return false;
    length = sizeof protocol;
    if (::getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &length) != 0)
        return false;
    return domain == family && type == SOCK_RAW && protocol == protocolOf(family);
}

void closeAll(const std::vector<int>& fds) {
    for (int fd : fds)
        ::close(fd);
}

// Waits up to timeoutMs for the child to end, then kills it; always reaps.
void reap(pid_t pid, int timeoutMs) {
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        int ready;
        do
            ready = ::poll(&p, 1, timeoutMs);
        while (ready < 0 && errno == EINTR);
        ::close(pidfd);
        if (ready <= 0)
            ::kill(pid, SIGKILL);
    } else {
        ::kill(pid, SIGKILL);
    }
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Reads the helper's one message. Returns the sockets in order, or sets
// error.
std::vector<int> receive(int channel, int expected, std::chrono::milliseconds timeout, int& error) {
    pollfd p{channel, POLLIN, 0};
    int ready;
    do
        ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
    while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        error = ETIMEDOUT;
        return {};
    }
    if (ready < 0) {
        error = errno;
        return {};
    }
    icmp_helper_header header{};
    // Room for more sockets than may be asked for, so that a helper sending
    // too many is seen as such rather than cut short.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4 * ICMP_HELPER_MAX_PER_FAMILY)];
    iovec iov{&header, sizeof header};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do
        n = ::recvmsg(channel, &msg, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);

    std::vector<int> fds;
    if (n > 0) {
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
                continue;
            std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                fds.push_back(fd);
            }
        }
    }
    bool wellFormed = n == static_cast<ssize_t>(sizeof header) &&
                      (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0 &&
                      std::memcmp(header.magic, ICMP_HELPER_MAGIC, sizeof header.magic) == 0;
    if (wellFormed && header.error != 0 && fds.empty()) {
        error = header.error;
        return {};
    }
    if (!wellFormed || header.error != 0 || header.count != static_cast<std::uint32_t>(expected) ||
        fds.size() != static_cast<std::size_t>(expected)) {
        closeAll(fds);
        error = n < 0 ? errno : EPROTO;
        return {};
    }
    return fds;
}

} // namespace

HelperSockets RunHelper(const std::string& path, int inetCount, int inet6Count,
                        std::chrono::milliseconds timeout) {
    helperRuns.fetch_add(1);
    HelperSockets result;
    if (inetCount < 0 || inet6Count < 0 || inetCount > ICMP_HELPER_MAX_PER_FAMILY ||
        inet6Count > ICMP_HELPER_MAX_PER_FAMILY || inetCount + inet6Count == 0) {
        result.error = EINVAL;
        return result;
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        result.error = errno;
        return result;
    }
    int ours = pair[0];
    int theirs = pair[1];
    // dup2 onto itself would keep close-on-exec: make sure the helper's end
    // is not already fd 3.
    if (theirs <= kChannelFd) {
        int moved = ::fcntl(theirs, F_DUPFD_CLOEXEC, kChannelFd + 1);
        ::close(theirs);
        if (moved < 0) {
            result.error = errno;
            ::close(ours);
            return result;
        }
        theirs = moved;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, theirs, kChannelFd);
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string inet = std::to_string(inetCount);
    std::string inet6 = std::to_string(inet6Count);
    char name[] = "icmp-helper";
    char* argv[] = {name, inet.data(), inet6.data(), nullptr};
    char* envp[] = {nullptr};
    pid_t pid = -1;
    int spawnError = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(theirs);
    if (spawnError != 0) {
        ::close(ours);
        result.error = spawnError;
        return result;
    }

    int error = 0;
    std::vector<int> fds = receive(ours, inetCount + inet6Count, timeout, error);
    ::close(ours);
    reap(pid, error == ETIMEDOUT ? 0 : kExitWaitMs);
    for (std::size_t i = 0; i < fds.size(); ++i) {
        int family = static_cast<int>(i) < inetCount ? AF_INET : AF_INET6;
        if (!isRawIcmp(fds[i], family)) {
            closeAll(fds);
            result.error = EPROTO;
            return result;
        }
    }
    if (error != 0) {
        result.error = error;
        return result;
    }
    result.inet.assign(fds.begin(), fds.begin() + inetCount);
    result.inet6.assign(fds.begin() + inetCount, fds.end());
    return result;
}

std::vector<std::string> HelperCandidates() {
    std::vector<std::string> paths;
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && self.has_parent_path()) {
        std::filesystem::path dir = self.parent_path();
        paths.push_back((dir.parent_path() / "lib/netsonde/icmp-helper").lexically_normal());
        paths.push_back(dir / "icmp-helper");
    }
    const std::string packaged = "/usr/lib/netsonde/icmp-helper";
    if (std::find(paths.begin(), paths.end(), packaged) == paths.end())
        paths.push_back(packaged);
    return paths;
}

void SetHelperPathForTesting(std::optional<std::string> path) {
    ForgetRawSockets();
    std::lock_guard lock(stockMutex);
    testingPath = std::move(path);
}

int OpenRawSocket(int family) {
    if (family != AF_INET && family != AF_INET6) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    std::lock_guard lock(stockMutex);
    std::vector<int>& stock = kept[slotOf(family)];
    if (!stock.empty()) {
        int fd = stock.back();
        stock.pop_back();
        return fd;
    }
    int fd = ::socket(family, SOCK_RAW | SOCK_CLOEXEC, protocolOf(family));
    if (fd >= 0 || (errno != EPERM && errno != EACCES))
        return fd;
    if (helperFailed) {
        errno = helperError;
        return -1;
    }
    int error = EACCES;
    std::vector<std::string> paths =
        testingPath ? std::vector<std::string>{*testingPath} : HelperCandidates();
    for (const std::string& path : paths) {
        if (::access(path.c_str(), F_OK) != 0)
            continue;
        int inet = family == AF_INET ? kBatch : 0;
        HelperSockets got = RunHelper(path, inet, kBatch - inet, kHelperTimeout);
        if (got.error != 0) {
            error = got.error;
            continue;
        }
        std::vector<int>& mine = family == AF_INET ? got.inet : got.inet6;
        fd = mine.back();
        mine.pop_back();
        stock = std::move(mine);
        return fd;
    }
    // Asked once in vain, the helper is not asked again until the sockets
    // are forgotten: every handle would otherwise start it anew.
    helperFailed = true;
    helperError = error == ENOENT ? EACCES : error;
    errno = helperError;
    return -1;
}

void KeepRawSocket(int family, int fd) {
    if (fd < 0)
        return;
    {
        std::lock_guard lock(stockMutex);
        std::vector<int>& stock = kept[slotOf(family)];
        if (stock.size() < kKept) {
            stock.push_back(fd);
            return;
        }
    }
    ::close(fd);
}

std::size_t HelperRuns() {
    return helperRuns.load();
}

void ForgetRawSockets() {
    std::array<std::vector<int>, 2> old;
    {
        std::lock_guard lock(stockMutex);
        old.swap(kept);
        helperFailed = false;
        helperError = 0;
    }
    for (const auto& fds : old)
        closeAll(fds);
}

} // namespace platform::rawicmp

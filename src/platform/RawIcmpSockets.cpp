#include "platform/RawIcmpSockets.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <mutex>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::rawicmp {

namespace {

constexpr std::chrono::milliseconds kStartTimeout{5000};

std::mutex brokerMutex;
std::shared_ptr<IcmpBroker> current;
bool startFailed = false;
int startError = 0;
std::optional<std::string> testingPath;
std::atomic<std::size_t> starts{0};

// Whether path lies inside dir (both made absolute, without symbolic links).
bool inside(const std::filesystem::path& path, const std::filesystem::path& dir) {
    std::error_code error;
    std::filesystem::path real = std::filesystem::weakly_canonical(dir, error);
    if (error)
        return false;
    auto [d, p] = std::mismatch(real.begin(), real.end(), path.begin(), path.end());
    return d == real.end();
}

} // namespace

int OpenRawSocket(int family) {
    if (family != AF_INET && family != AF_INET6) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    return ::socket(family, SOCK_RAW | SOCK_CLOEXEC,
                    family == AF_INET6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP});
}

std::vector<std::string> HelperCandidates() {
    std::vector<std::string> paths{NETSONDE_INSTALLED_HELPER};
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && inside(self, NETSONDE_BUILD_TREE) &&
        std::string(NETSONDE_BUILD_HELPER) != NETSONDE_INSTALLED_HELPER)
        paths.push_back(NETSONDE_BUILD_HELPER);
    return paths;
}

void SetHelperPathForTesting(std::optional<std::string> path) {
    ForgetRawSockets();
    std::lock_guard lock(brokerMutex);
    testingPath = std::move(path);
}

std::shared_ptr<IcmpBroker> Broker() {
    std::lock_guard lock(brokerMutex);
    if (current && current->alive())
        return current;
    current.reset();
    if (startFailed) {
        errno = startError;
        return nullptr;
    }
    int error = EACCES;
    std::vector<std::string> paths =
        testingPath ? std::vector<std::string>{*testingPath} : HelperCandidates();
    for (const std::string& path : paths) {
        if (::access(path.c_str(), F_OK) != 0)
            continue;
        starts.fetch_add(1);
        current = StartBroker(path, kStartTimeout);
        if (current)
            return current;
        error = errno;
    }
    // Refused once, the helper is not run again until the broker is
    // forgotten: every request would otherwise start it anew.
    startFailed = true;
    startError = error == ENOENT ? EACCES : error;
    errno = startError;
    return nullptr;
}

std::shared_ptr<IcmpBroker> RunningBroker() {
    std::lock_guard lock(brokerMutex);
    return current;
}

void ForgetRawSockets() {
    std::shared_ptr<IcmpBroker> old;
    {
        std::lock_guard lock(brokerMutex);
        old.swap(current);
        startFailed = false;
        startError = 0;
    }
}

std::size_t HelperRuns() {
    return starts.load();
}

} // namespace platform::rawicmp

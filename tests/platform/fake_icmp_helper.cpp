// A misbehaving stand-in for icmp-helper. It reads what to do from the name
// of its own file (tests copy it under these names): silent-exit, hang,
// too-few, too-many, wrong-kind, refuses (sends EPERM), bad-magic, and
// honest (does what the real helper does, without dropping anything).
#include "icmp-helper-protocol.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void sendFds(const char* magic, int error, std::uint32_t count, const std::vector<int>& fds) {
    icmp_helper_header header{};
    std::memcpy(header.magic, magic, sizeof header.magic);
    header.error = error;
    header.count = count;
    iovec iov{&header, sizeof header};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 64)] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    if (!fds.empty()) {
        msg.msg_control = control;
        msg.msg_controllen = CMSG_SPACE(sizeof(int) * fds.size());
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
        std::memcpy(CMSG_DATA(c), fds.data(), sizeof(int) * fds.size());
    }
    if (::sendmsg(3, &msg, MSG_NOSIGNAL) < 0)
        std::exit(3);
}

std::vector<int> raw(int inet, int inet6) {
    std::vector<int> fds;
    for (int i = 0; i < inet; ++i)
        fds.push_back(::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
    for (int i = 0; i < inet6; ++i)
        fds.push_back(::socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6));
    return fds;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    const std::string mode = std::filesystem::read_symlink("/proc/self/exe").filename();
    const int inet = std::atoi(argv[1]);
    const int inet6 = std::atoi(argv[2]);
    const auto asked = static_cast<std::uint32_t>(inet + inet6);
    if (mode == "silent-exit")
        return 0;
    if (mode == "hang") {
        for (;;)
            ::pause();
    }
    if (mode == "refuses") {
        sendFds(ICMP_HELPER_MAGIC, EPERM, 0, {});
    } else if (mode == "too-few") {
        std::vector<int> fds = raw(inet, inet6);
        fds.pop_back();
        sendFds(ICMP_HELPER_MAGIC, 0, asked, fds);
    } else if (mode == "too-many") {
        std::vector<int> fds = raw(inet + 1, inet6);
        sendFds(ICMP_HELPER_MAGIC, 0, asked + 1, fds);
    } else if (mode == "wrong-kind") {
        std::vector<int> fds = raw(inet, inet6);
        ::close(fds.front());
        fds.front() = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sendFds(ICMP_HELPER_MAGIC, 0, asked, fds);
    } else if (mode == "bad-magic") {
        sendFds("XXXX", 0, asked, raw(inet, inet6));
    } else {
        sendFds(ICMP_HELPER_MAGIC, 0, asked, raw(inet, inet6));
    }
    // Like the real helper, wait until the caller closes its end.
    char scrap;
    while (::read(3, &scrap, 1) > 0) {
    }
    return 0;
}

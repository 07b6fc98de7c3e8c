#include "support/PrivateNetwork.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace netsonde::test {

namespace {
bool requested = false;
bool entered = false;
bool silent = false;
bool silent6 = false;

bool bringLoopbackUp() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    ::close(fd);
    return ok;
}

bool openPingGroups() {
    int fd = ::open("/proc/sys/net/ipv4/ping_group_range", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const char range[] = "0 2147483647";
    bool ok = ::write(fd, range, sizeof range - 1) == static_cast<ssize_t>(sizeof range - 1);
    ::close(fd);
    return ok;
}
} // namespace

void RequestPrivateNetwork() {
    requested = true;
}

void EnterRequestedNetwork() {
    if (!requested || entered)
        return;
    if (::unshare(CLONE_NEWNET) != 0)
        return;
    entered = bringLoopbackUp();
    if (entered && !openPingGroups())
        std::fprintf(stderr, "private network: datagram ICMP sockets stay closed\n");
    // A veth pair whose far end drops every frame: frames to 10.88.0.2 are
    // sent to a made-up link address that nobody owns.
    silent = entered &&
             std::system("ip link add nsq0 type veth peer name nsq1 && "
                         "ip addr add 10.88.0.1/24 dev nsq0 && ip link set nsq0 up && "
                         "ip link set nsq1 up && "
                         "ip neigh add 10.88.0.2 lladdr 02:00:00:00:00:99 dev nsq0 nud permanent"
                         " >/dev/null 2>&1") == 0;
    // The same for IPv6, without duplicate address detection so that the
    // address is usable at once.
    silent6 =
        silent && std::system("ip -6 addr add fd00:88::1/64 dev nsq0 nodad && "
                              "ip -6 neigh add fd00:88::2 lladdr 02:00:00:00:00:99 dev nsq0 nud "
                              "permanent >/dev/null 2>&1") == 0;
}

const char* SilentAddress() {
    return silent ? "10.88.0.2" : nullptr;
}

const char* SilentAddress6() {
    return silent6 ? "fd00:88::2" : nullptr;
}

bool InPrivateNetwork() {
    return entered;
}

} // namespace netsonde::test

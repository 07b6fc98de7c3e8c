#pragma once

#include "support/TestNetwork.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace netsonde::test {

// The ports of the far host (IPv4 and IPv6 alike) while a PortServices
// lives: a listening TCP port, a closed one (the kernel resets), one that
// far's firewall drops (for UDP too), a UDP echo service and a closed UDP port (the
// kernel answers port unreachable, without a rate limit).
namespace ports {
inline constexpr std::uint16_t Listening = 7443;
inline constexpr std::uint16_t Closed = 7444;
inline constexpr std::uint16_t Dropped = 7445;
inline constexpr std::uint16_t UdpEcho = 7007;
inline constexpr std::uint16_t UdpClosed = 7009;
} // namespace ports

class PortServices {
public:
    PortServices() {
        far = "ip netns exec " + NodeNamespace("far") + " ";
        ok = std::system(
                 (far + "sysctl -qw net.ipv4.icmp_ratelimit=0 net.ipv6.icmp.ratelimit=0 && " + far +
                  "nft -f - <<'EOF'\ntable inet portdrop {\n chain input {\n"
                  "  type filter hook input priority 0;\n  meta l4proto { tcp, udp } th dport " +
                  std::to_string(ports::Dropped) + " drop\n }\n}\nEOF")
                     .c_str()) == 0;
        listener = Bound(SOCK_STREAM, ports::Listening);
        ok = ok && listener >= 0 && ::listen(listener, 64) == 0;
        echo = Bound(SOCK_DGRAM, ports::UdpEcho);
        ok = ok && echo >= 0;
        // far holds more than one IPv6 address: a reply leaves from the one
        // the datagram came to, as a real service's does.
        const int one = 1;
        ok = ok && ::setsockopt(echo, IPPROTO_IPV6, IPV6_RECVPKTINFO, &one, sizeof one) == 0;
        if (ok)
            worker = std::thread([this] { Serve(); });
    }
    ~PortServices() {
        stop = true;
        if (worker.joinable())
            worker.join();
        for (int fd : {listener, echo})
            if (fd >= 0)
                ::close(fd);
        (void)std::system((far + "nft delete table inet portdrop 2>/dev/null").c_str());
    }
    PortServices(const PortServices&) = delete;
    PortServices& operator=(const PortServices&) = delete;

    bool Ready() const { return ok; }
    // Connections the listening port has taken, and bytes any of them sent.
    int Accepted() const { return accepted; }
    int BytesReceived() const { return bytes; }

private:
    // A socket of far for both families.
    static int Bound(int type, std::uint16_t port) {
        const int fd = SocketInNode("far", type, 0, AF_INET6);
        if (fd < 0)
            return -1;
        const int zero = 0, one = 1;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    void Serve() {
        std::uint8_t buffer[2048];
        while (!stop) {
            pollfd p[2] = {{listener, POLLIN, 0}, {echo, POLLIN, 0}};
            if (::poll(p, 2, 20) <= 0)
                continue;
            if ((p[0].revents & POLLIN) != 0) {
                const int c = ::accept(listener, nullptr, nullptr);
                if (c >= 0) {
                    ++accepted;
                    // Whatever the prober might have sent has arrived by the
                    // time its reset does.
                    pollfd w{c, POLLIN, 0};
                    if (::poll(&w, 1, 200) > 0) {
                        const ssize_t n = ::recv(c, buffer, sizeof buffer, MSG_DONTWAIT);
                        if (n > 0)
                            bytes += static_cast<int>(n);
                    }
                    ::close(c);
                }
            }
            if ((p[1].revents & POLLIN) != 0) {
                sockaddr_in6 from{};
                alignas(cmsghdr) std::uint8_t control[128];
                iovec iov{buffer, sizeof buffer};
                msghdr msg{};
                msg.msg_name = &from;
                msg.msg_namelen = sizeof from;
                msg.msg_iov = &iov;
                msg.msg_iovlen = 1;
                msg.msg_control = control;
                msg.msg_controllen = sizeof control;
                const ssize_t n = ::recvmsg(echo, &msg, 0);
                if (n < 0)
                    continue;
                iov.iov_len = static_cast<std::size_t>(n);
                if (IN6_IS_ADDR_V4MAPPED(&from.sin6_addr))
                    msg.msg_controllen = 0; // IPv4 replies from its one address
                ::sendmsg(echo, &msg, 0);
            }
        }
    }

    std::string far;
    bool ok = false;
    int listener = -1;
    int echo = -1;
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0};
    std::atomic<int> bytes{0};
    std::thread worker;
};

} // namespace netsonde::test

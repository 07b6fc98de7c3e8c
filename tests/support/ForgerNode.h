#pragma once

#include "echo/IcmpBinding.h"
#include "platform/IcmpService.h"
#include "support/IpFamily.h"
#include "support/TestNetwork.h"

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace netsonde::test {

// A raw socket in the test network's forger node that sends whole packets
// in any name, once or again and again on a thread of its own. Derived
// builds the packets of its family; its destructor calls Stop, so that no
// round runs on a half-destroyed forger.
template <class Derived> class ForgerNode {
public:
    explicit ForgerNode(int family) : fd(SocketInNode("forger", SOCK_RAW, IPPROTO_RAW, family)) {}
    ~ForgerNode() {
        Stop();
        if (fd >= 0)
            ::close(fd);
    }
    ForgerNode(const ForgerNode&) = delete;
    ForgerNode& operator=(const ForgerNode&) = delete;

    bool Ready() const { return fd >= 0; }
    // Runs round on a thread of its own, again and again, until Stop.
    void Repeat(std::function<void(Derived&)> round) {
        worker = std::thread([this, round] {
            while (!stopped)
                round(static_cast<Derived&>(*this));
        });
    }
    void Stop() {
        stopped = true;
        if (worker.joinable())
            worker.join();
    }

protected:
    int fd;

private:
    std::atomic<bool> stopped{false};
    std::thread worker;
};

// A forger of the family's echo replies to the client, from any source.
template <class Family> class EchoReplyForger : public ForgerNode<EchoReplyForger<Family>> {
public:
    EchoReplyForger() : ForgerNode<EchoReplyForger>(Family::Af) {}
    ~EchoReplyForger() { this->Stop(); }
    void Send(const char* source, std::uint16_t ident, std::uint16_t sequence, const Bytes& data) {
        const Bytes packet =
            Family::Datagram(source, Family::Client,
                             Family::EchoMessage(Family::EchoReplyType, ident, sequence, data));
        const typename Family::SockAddr to = Family::SocketAddress(Family::Client);
        ::sendto(this->fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
};

// A handle from create whose first sequence number is neither 1 nor 2, the
// ones a blind forger tries (one handle in 32768 is not), with its next
// numbers; nothing in next when they cannot be read.
template <class Create>
IcmpHandle HandleOutOfBlindReach(Create create,
                                 std::optional<platform::linuxicmp::EchoNumbers>& next) {
    IcmpHandle h = create();
    next = platform::linuxicmp::NextEchoNumbers(h);
    while (next && (next->sequence == 1 || next->sequence == 2)) {
        IcmpCloseHandle(h);
        h = create();
        next = platform::linuxicmp::NextEchoNumbers(h);
    }
    return h;
}

} // namespace netsonde::test

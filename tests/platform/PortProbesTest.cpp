// TCP probes on loopback, where the handshake completes inside connect:
// what a service does right after it makes no probe wait for its time-out.
#include "platform/PortProbes.h"

#include "platform/IcmpTypes.h"
#include "support/EventWait.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using netsonde::test::WaitUntil;
using platform::PortAnswer;
using platform::PortProbes;

namespace {

// A listening socket on a free loopback port.
struct Listener {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t port = 0;
    Listener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 8) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
            port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd); }
};

PortProbes::Target loopback(std::uint16_t port) {
    PortProbes::Target t;
    t.family = 4;
    t.address = {127, 0, 0, 1};
    t.kind = platform::ProbeKind::Tcp;
    t.port = port;
    return t;
}

TEST(PortProbes, AServiceThatClosesAtOnceHasStillAnswered) {
    struct Case {
        const char* what;
        bool accept;    // the service takes the connection...
        bool sendFirst; // ...and sends a greeting...
        bool close;     // ...or closes it, all before the probe looks
    };
    const Case cases[] = {
        {"left waiting", false, false, false},
        {"closed at once", true, false, true},
        {"greeted, then closed", true, true, true},
        {"greeted", true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Listener service;
        ASSERT_NE(service.port, 0);
        PortProbes probes;
        int calls = 0;
        PortProbes::Outcome seen;
        probes.Send(loopback(service.port), {64, 2000}, [&](const PortProbes::Outcome& o) {
            ++calls;
            seen = o;
        });
        int accepted = -1;
        if (c.accept) {
            accepted = ::accept(service.fd, nullptr, nullptr);
            ASSERT_GE(accepted, 0);
            if (c.sendFirst) {
                ASSERT_EQ(::send(accepted, "hello\r\n", 7, 0), 7);
            }
            if (c.close)
                ::close(accepted);
        }
        ASSERT_TRUE(WaitUntil([&] { return calls > 0; }, 1000));
        EXPECT_EQ(seen.status, IcmpStatus::Success);
        EXPECT_EQ(seen.answer, PortAnswer::Connected);
        EXPECT_LT(seen.received - seen.sent, std::chrono::milliseconds(500));
        if (c.accept && !c.close)
            ::close(accepted);
    }
}

TEST(PortProbes, AClosedPortIsRefusedAndAProbeEndsOnlyOnce) {
    std::uint16_t closed = 0;
    {
        Listener gone;
        closed = gone.port;
    }
    PortProbes probes;
    int calls = 0;
    PortProbes::Outcome seen;
    probes.Send(loopback(closed), {64, 300}, [&](const PortProbes::Outcome& o) {
        ++calls;
        seen = o;
    });
    ASSERT_TRUE(WaitUntil([&] { return calls > 0; }, 1000));
    EXPECT_EQ(seen.answer, PortAnswer::Refused);
    EXPECT_EQ(seen.from, (std::array<std::uint8_t, 16>{127, 0, 0, 1}));
    // Past its time-out nothing more comes.
    WaitUntil([] { return false; }, 400);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(probes.InFlight(), 0U);
}

} // namespace

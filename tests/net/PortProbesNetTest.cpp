// TCP and UDP probes on the routed test network: what each kind of port
// answers, routers' Time Exceeded on the error queue, forged errors and
// resets that do not quote our probe, and a trace by a process without
// privilege; then Ping and Trace runs of port entries from end to end.
#include "platform/PortProbes.h"

#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "platform/IcmpPacket.h"
#include "platform/IcmpTypes.h"
#include "support/EventWait.h"
#include "support/IpFamily.h"
#include "support/PortServices.h"
#include "support/TestNetwork.h"

#include <QWidget>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/wait.h>

using namespace netsonde::test;
using platform::PortAnswer;
using platform::PortProbes;
using platform::ProbeKind;

namespace {

const bool network = (RequestTestNetwork(), true);

// Source addresses of no node of the network, which r3 forwards from the
// forger and the routers before the client pass on.
constexpr const char* ElsewhereRouter = "10.61.99.1";
constexpr const char* OtherElsewhereRouter = "10.61.99.2";

PortProbes::Target target(const std::string& text, ProbeKind kind, std::uint16_t port) {
    PortProbes::Target t;
    t.kind = kind;
    t.port = port;
    if (::inet_pton(AF_INET, text.c_str(), t.address.data()) == 1) {
        t.family = 4;
    } else {
        t.family = 6;
        EXPECT_EQ(::inet_pton(AF_INET6, text.c_str(), t.address.data()), 1) << text;
    }
    return t;
}

std::string text(int family, const std::array<std::uint8_t, 16>& address) {
    char out[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(family == 6 ? AF_INET6 : AF_INET, address.data(), out, sizeof out);
    return out;
}

template <class F> class PortProbesNet : public testing::Test {
protected:
    void SetUp() override {
        if (!InTestNetwork())
            GTEST_SKIP() << TestNetworkProblem();
        ASSERT_TRUE(services.Ready());
    }
    PortProbes::Outcome Probe(const char* to, ProbeKind kind, std::uint16_t port,
                              std::uint8_t ttl = 64, std::uint32_t timeoutMs = 1000) {
        int calls = 0;
        PortProbes::Outcome seen;
        probes.Send(target(to, kind, port), {ttl, timeoutMs}, [&](const PortProbes::Outcome& o) {
            ++calls;
            seen = o;
        });
        EXPECT_TRUE(WaitUntil([&] { return calls > 0; }, 5000));
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(probes.InFlight(), 0u);
        return seen;
    }

    PortServices services;
    PortProbes probes;
};

using Families = testing::Types<IPv4, IPv6>;
TYPED_TEST_SUITE(PortProbesNet, Families);

TYPED_TEST(PortProbesNet, EachKindOfPortAnswersAsItShould) {
    struct Case {
        ProbeKind kind;
        std::uint16_t port;
        std::uint32_t status;
        PortAnswer answer;
    };
    const Case cases[] = {
        {ProbeKind::Tcp, ports::Listening, IcmpStatus::Success, PortAnswer::Connected},
        {ProbeKind::Tcp, ports::Closed, IcmpStatus::Success, PortAnswer::Refused},
        {ProbeKind::Tcp, ports::Dropped, IcmpStatus::ReqTimedOut, PortAnswer::None},
        {ProbeKind::Udp, ports::UdpEcho, IcmpStatus::Success, PortAnswer::Reply},
        {ProbeKind::Udp, ports::UdpClosed, IcmpStatus::Success, PortAnswer::PortUnreachable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.kind == ProbeKind::Tcp ? "tcp " : "udp ") << c.port);
        const PortProbes::Outcome o = this->Probe(TypeParam::Far, c.kind, c.port, 64, 400);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.answer, c.answer);
        if (c.status == IcmpStatus::Success) {
            EXPECT_EQ(text(TypeParam::Af == AF_INET6 ? 6 : 4, o.from), TypeParam::Far);
            // The namespace network answers within microseconds; a time
            // near the time-out would be a clock or a read gone wrong.
            EXPECT_LT(o.roundTripUs, 100'000u);
        } else {
            EXPECT_GE(o.received - o.sent, std::chrono::milliseconds(400));
        }
    }
    // Connections are reset at once and nothing is ever sent on them.
    EXPECT_EQ(this->services.BytesReceived(), 0);
}

TYPED_TEST(PortProbesNet, RisingTimeToLiveMeetsEachRouterThenTheService) {
    for (ProbeKind kind : {ProbeKind::Tcp, ProbeKind::Udp}) {
        const std::uint16_t port = kind == ProbeKind::Tcp ? ports::Listening : ports::UdpClosed;
        for (std::uint8_t ttl = 1; ttl <= 4; ++ttl) {
            SCOPED_TRACE(testing::Message() << "ttl " << int(ttl));
            const PortProbes::Outcome o = this->Probe(TypeParam::Far, kind, port, ttl);
            const int family = TypeParam::Af == AF_INET6 ? 6 : 4;
            if (ttl <= 3) {
                EXPECT_EQ(o.status, IcmpStatus::TtlExpiredTransit);
                EXPECT_EQ(text(family, o.from), TypeParam::Routers[ttl - 1]);
            } else {
                EXPECT_EQ(o.status, IcmpStatus::Success);
                EXPECT_EQ(text(family, o.from), TypeParam::Far);
            }
        }
    }
}

TYPED_TEST(PortProbesNet, AnUnreachableNetworkIsReportedByItsRouter) {
    const PortProbes::Outcome o =
        this->Probe(TypeParam::HostUnreachable, ProbeKind::Tcp, ports::Listening);
    EXPECT_EQ(o.status, IcmpStatus::DestHostUnreachable);
    EXPECT_EQ(text(TypeParam::Af == AF_INET6 ? 6 : 4, o.from), TypeParam::Routers[1]);
}

TYPED_TEST(PortProbesNet, ManyProbesInFlightEndInAboutOneTimeOut) {
    constexpr int Count = 200;
    int ended = 0, timedOut = 0;
    const auto start = PortProbes::Clock::now();
    for (int i = 0; i < Count; ++i)
        this->probes.Send(target(TypeParam::Far, ProbeKind::Tcp, ports::Dropped), {64, 500},
                          [&](const PortProbes::Outcome& o) {
                              ++ended;
                              timedOut += o.status == IcmpStatus::ReqTimedOut ? 1 : 0;
                          });
    EXPECT_EQ(this->probes.InFlight(), std::size_t{Count});
    ASSERT_TRUE(WaitUntil([&] { return ended == Count; }, 5000));
    EXPECT_EQ(timedOut, Count);
    EXPECT_LT(PortProbes::Clock::now() - start, std::chrono::milliseconds(1500));
}

TYPED_TEST(PortProbesNet, DestroyingTheProbesInFlightCallsNothing) {
    int calls = 0;
    {
        PortProbes probes;
        for (int i = 0; i < 10; ++i)
            probes.Send(target(TypeParam::Far, ProbeKind::Tcp, ports::Dropped), {64, 50},
                        [&](const PortProbes::Outcome&) { ++calls; });
        // One that ends at once (no route) queues its completion.
        probes.Send(
            target(TypeParam::Af == AF_INET6 ? "fd00:77::1" : "10.77.0.1", ProbeKind::Udp, 9),
            {64, 50}, [&](const PortProbes::Outcome&) { ++calls; });
    }
    WaitUntil([] { return false; }, 150);
    EXPECT_EQ(calls, 0);
}

// Forged Time Exceeded for our probe from the forger node: with our
// addresses and ports but a sequence number the kernel has not sent, or
// with another port. Neither may end the probe.
TEST(PortProbesForged, ErrorsAndResetsThatDoNotQuoteOurProbeNeverCount) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    PortServices services;
    ASSERT_TRUE(services.Ready());
    const int raw = SocketInNode("forger", SOCK_RAW, IPPROTO_RAW);
    ASSERT_GE(raw, 0);
    PortProbes probes;
    int calls = 0;
    PortProbes::Outcome seen;
    probes.Send(target(net::Far, ProbeKind::Tcp, ports::Dropped), {64, 600},
                [&](const PortProbes::Outcome& o) {
                    ++calls;
                    seen = o;
                });
    const std::uint16_t local = probes.NewestLocalPortForTests();
    ASSERT_NE(local, 0);
    for (std::uint32_t sequence : {0u, 1u, 0x7fffffffu, 0xdeadbeefu})
        for (std::uint16_t sourcePort : {local, static_cast<std::uint16_t>(local + 1)}) {
            // The quoted datagram: client to far, TCP SYN with these numbers.
            Bytes quoted(28, 0);
            quoted[0] = 0x45;
            quoted[3] = 60;
            quoted[8] = 1;
            quoted[9] = IPPROTO_TCP;
            const auto client = Family4::ToWire(net::Client), far = Family4::ToWire(net::Far);
            std::memcpy(&quoted[12], &client, 4);
            std::memcpy(&quoted[16], &far, 4);
            quoted[20] = static_cast<std::uint8_t>(sourcePort >> 8);
            quoted[21] = static_cast<std::uint8_t>(sourcePort);
            quoted[22] = ports::Dropped >> 8;
            quoted[23] = ports::Dropped & 0xff;
            for (int i = 0; i < 4; ++i)
                quoted[24 + i] = static_cast<std::uint8_t>(sequence >> (24 - 8 * i));
            Bytes icmp{platform::icmppacket::TimeExceeded, 0, 0, 0, 0, 0, 0, 0};
            icmp.insert(icmp.end(), quoted.begin(), quoted.end());
            const std::uint16_t sum = platform::icmppacket::Checksum(icmp);
            icmp[2] = static_cast<std::uint8_t>(sum >> 8);
            icmp[3] = static_cast<std::uint8_t>(sum);
            // In the name of a router that is no node of the network: a
            // router's own address would be dropped on the way as a martian.
            const Bytes packet = Family4::Datagram(ElsewhereRouter, net::Client, icmp);
            const auto to = Family4::SocketAddress(net::Client);
            ::sendto(raw, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                     sizeof to);
        }
    // Forged resets in far's name, acknowledging sequence numbers the
    // kernel has not sent: a connect in progress takes only the one reset
    // that acknowledges its own SYN.
    for (std::uint32_t ack : {0u, 1u, 0x7fffffffu, 0xdeadbeefu}) {
        Bytes tcp(20, 0);
        tcp[0] = ports::Dropped >> 8;
        tcp[1] = ports::Dropped & 0xff;
        tcp[2] = static_cast<std::uint8_t>(local >> 8);
        tcp[3] = static_cast<std::uint8_t>(local);
        for (int i = 0; i < 4; ++i)
            tcp[8 + i] = static_cast<std::uint8_t>(ack >> (24 - 8 * i));
        tcp[12] = 5 << 4;
        tcp[13] = 0x14; // RST and ACK
        const auto from = Family4::ToWire(net::Far), to = Family4::ToWire(net::Client);
        Bytes pseudo(12, 0);
        std::memcpy(&pseudo[0], &from, 4);
        std::memcpy(&pseudo[4], &to, 4);
        pseudo[9] = IPPROTO_TCP;
        pseudo[11] = 20;
        pseudo.insert(pseudo.end(), tcp.begin(), tcp.end());
        const std::uint16_t sum = platform::icmppacket::Checksum(pseudo);
        tcp[16] = static_cast<std::uint8_t>(sum >> 8);
        tcp[17] = static_cast<std::uint8_t>(sum);
        Bytes packet = Family4::Datagram(net::Far, net::Client, tcp);
        packet[9] = IPPROTO_TCP;
        const auto address = Family4::SocketAddress(net::Client);
        ::sendto(raw, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                 sizeof address);
    }
    ASSERT_TRUE(WaitUntil([&] { return calls > 0; }, 3000));
    ::close(raw);
    EXPECT_EQ(seen.status, IcmpStatus::ReqTimedOut);
    EXPECT_EQ(seen.answer, PortAnswer::None);
}

// Time Exceeded quoting a UDP datagram of the client to far: with other
// ports it is not ours; with our own it is, which shows that the forged
// errors of these tests reach the probe at all. The wrong ones go first, in
// the name of a router elsewhere, the right one last in another's: only the
// other may be seen.
TEST(PortProbesForged, AUdpErrorCountsOnlyWhenItQuotesOurPorts) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    PortServices services;
    ASSERT_TRUE(services.Ready());
    const int raw = SocketInNode("forger", SOCK_RAW, IPPROTO_RAW);
    ASSERT_GE(raw, 0);
    PortProbes probes;
    int calls = 0;
    PortProbes::Outcome seen;
    probes.Send(target(net::Far, ProbeKind::Udp, ports::Dropped), {64, 3000},
                [&](const PortProbes::Outcome& o) {
                    ++calls;
                    seen = o;
                });
    const std::uint16_t local = probes.NewestLocalPortForTests();
    ASSERT_NE(local, 0);
    const auto forge = [&](const char* router, std::uint16_t sourcePort,
                           std::uint16_t destinationPort) {
        Bytes quoted(28, 0);
        quoted[0] = 0x45;
        quoted[3] = 36;
        quoted[8] = 1;
        quoted[9] = IPPROTO_UDP;
        const auto client = Family4::ToWire(net::Client), far = Family4::ToWire(net::Far);
        std::memcpy(&quoted[12], &client, 4);
        std::memcpy(&quoted[16], &far, 4);
        quoted[20] = static_cast<std::uint8_t>(sourcePort >> 8);
        quoted[21] = static_cast<std::uint8_t>(sourcePort);
        quoted[22] = static_cast<std::uint8_t>(destinationPort >> 8);
        quoted[23] = static_cast<std::uint8_t>(destinationPort);
        quoted[25] = 16;
        Bytes icmp{platform::icmppacket::TimeExceeded, 0, 0, 0, 0, 0, 0, 0};
        icmp.insert(icmp.end(), quoted.begin(), quoted.end());
        const std::uint16_t sum = platform::icmppacket::Checksum(icmp);
        icmp[2] = static_cast<std::uint8_t>(sum >> 8);
        icmp[3] = static_cast<std::uint8_t>(sum);
        const Bytes packet = Family4::Datagram(router, net::Client, icmp);
        const auto to = Family4::SocketAddress(net::Client);
        ::sendto(raw, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    };
    forge(ElsewhereRouter, static_cast<std::uint16_t>(local + 1), ports::Dropped);
    forge(ElsewhereRouter, local, static_cast<std::uint16_t>(ports::Dropped + 1));
    forge(ElsewhereRouter, static_cast<std::uint16_t>(local ^ 0x8000), ports::UdpEcho);
    forge(OtherElsewhereRouter, local, ports::Dropped);
    ASSERT_TRUE(WaitUntil([&] { return calls > 0; }, 5000));
    ::close(raw);
    EXPECT_EQ(seen.status, IcmpStatus::TtlExpiredTransit);
    EXPECT_EQ(text(4, seen.from), OtherElsewhereRouter);
}

// A process without any capability, whose group the kernel refuses ICMP
// datagram sockets, still traces over TCP: each router's Time Exceeded
// comes back on its own socket's error queue.
TEST(PortProbesUnprivileged, NobodyTracesOverTcp) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    PortServices services;
    ASSERT_TRUE(services.Ready());
    const char* range = "/proc/sys/net/ipv4/ping_group_range";
    std::string before;
    std::getline(std::ifstream(range), before);
    std::ofstream(range) << "1 0\n";
    int pipes[2];
    ASSERT_EQ(::pipe(pipes), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipes[0]);
        const gid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(2);
        // Neither a raw nor an ICMP datagram socket may be had.
        if (::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP) >= 0 ||
            ::socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP) >= 0)
            ::_exit(3);
        std::string hops;
        for (std::uint8_t ttl = 1; ttl <= 8; ++ttl) {
            const PortProbes::Outcome o = PortProbes::ProbeNow(
                target(net::Far, ProbeKind::Tcp, ports::Listening), {ttl, 1000});
            hops += std::to_string(ttl) + " " + text(4, o.from) + " " +
                    (o.answer == PortAnswer::Connected ? "connected" : std::to_string(o.status)) +
                    "\n";
            if (o.status == IcmpStatus::Success)
                break;
        }
        (void)::write(pipes[1], hops.data(), hops.size());
        ::_exit(0);
    }
    ::close(pipes[1]);
    std::string hops;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipes[0], buffer, sizeof buffer)) > 0;)
        hops.append(buffer, static_cast<std::size_t>(n));
    ::close(pipes[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::ofstream(range) << before << "\n";
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const std::string expired = std::to_string(IcmpStatus::TtlExpiredTransit);
    EXPECT_EQ(hops, "1 10.61.1.1 " + expired + "\n2 10.61.2.2 " + expired + "\n3 10.61.3.2 " +
                        expired + "\n4 10.61.4.2 connected\n");
}

} // namespace

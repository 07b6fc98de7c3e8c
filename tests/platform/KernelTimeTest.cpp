#include "platform/KernelTime.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <optional>
#include <tuple>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>

using platform::ReceivedAt;
using platform::ReceiveStamp;
using platform::SteadyClock;
using namespace std::chrono_literals;

namespace {

std::int64_t RealtimeNow() {
    timespec t;
    ::clock_gettime(CLOCK_REALTIME, &t);
    return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

// Ancillary data as recvmsg writes it: one message per (level, type,
// payload), each aligned.
std::vector<std::uint8_t>
Control(std::initializer_list<std::tuple<int, int, std::vector<std::uint8_t>>> messages) {
    std::vector<std::uint8_t> out;
    for (const auto& [level, type, payload] : messages) {
        const std::size_t at = out.size();
        out.resize(at + CMSG_SPACE(payload.size()));
        cmsghdr c{};
        c.cmsg_len = CMSG_LEN(payload.size());
        c.cmsg_level = level;
        c.cmsg_type = type;
        std::memcpy(out.data() + at, &c, sizeof c);
        std::memcpy(out.data() + at + CMSG_LEN(0), payload.data(), payload.size());
    }
    return out;
}

std::vector<std::uint8_t> Stamp(std::int64_t ns, long nsecOverride = -1) {
    timespec t{static_cast<time_t>(ns / 1000000000),
               nsecOverride >= 0 ? nsecOverride : static_cast<long>(ns % 1000000000)};
    std::vector<std::uint8_t> bytes(sizeof t);
    std::memcpy(bytes.data(), &t, sizeof t);
    return bytes;
}

std::vector<std::uint8_t> Int(int value) {
    std::vector<std::uint8_t> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

} // namespace

// The stamp is found among other ancillary data and refused where the data
// is malformed; a missing or unusable stamp leaves the time of reading.
TEST(KernelTime, StampsAreFoundOnlyWhereWellFormed) {
    const std::int64_t ns = 1'700'000'000'123'456'789;
    struct Case {
        const char* what;
        std::vector<std::uint8_t> control;
        std::optional<std::int64_t> stamp;
    } cases[] = {
        {"none", {}, std::nullopt},
        {"alone", Control({{SOL_SOCKET, SCM_TIMESTAMPNS, Stamp(ns)}}), ns},
        {"after a TTL and a class",
         Control({{IPPROTO_IP, IP_TTL, Int(61)},
                  {IPPROTO_IP, IP_TOS, Int(0)},
                  {SOL_SOCKET, SCM_TIMESTAMPNS, Stamp(ns)}}),
         ns},
        {"only other data", Control({{IPPROTO_IPV6, IPV6_HOPLIMIT, Int(64)}}), std::nullopt},
        {"the microsecond kind", Control({{SOL_SOCKET, SCM_TIMESTAMP, Stamp(ns)}}), std::nullopt},
        {"too short", Control({{SOL_SOCKET, SCM_TIMESTAMPNS, Int(5)}}), std::nullopt},
        {"nanoseconds out of range",
         Control({{SOL_SOCKET, SCM_TIMESTAMPNS, Stamp(ns, 1000000000)}}), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ReceiveStamp(c.control), c.stamp);
    }
    // A length that runs past the end, or one shorter than a header, ends
    // the walk.
    std::vector<std::uint8_t> bad = Control({{SOL_SOCKET, SCM_TIMESTAMPNS, Stamp(ns)}});
    for (std::size_t length : {bad.size() + 1, sizeof(cmsghdr) - 1, std::size_t{0}}) {
        cmsghdr c;
        std::memcpy(&c, bad.data(), sizeof c);
        c.cmsg_len = length;
        std::memcpy(bad.data(), &c, sizeof c);
        EXPECT_EQ(ReceiveStamp(bad), std::nullopt) << length;
    }
    EXPECT_EQ(ReceiveStamp(std::span(bad).first(sizeof(cmsghdr) - 1)), std::nullopt);
}

// The stamp moves the receive time back by its age; one that cannot be
// right (in the future, or before the request left: the realtime clock was
// set meanwhile) gives way to the time of reading.
TEST(KernelTime, TheReceiveTimeIsTheStampAgedOnTheSteadyClock) {
    const SteadyClock::time_point sent = SteadyClock::now() - 500ms;
    const SteadyClock::time_point before = SteadyClock::now();
    const SteadyClock::time_point aged = ReceivedAt(RealtimeNow() - 300'000'000, sent);
    const SteadyClock::time_point after = SteadyClock::now();
    EXPECT_GE(aged, before - 300ms);
    EXPECT_LE(aged, after - 300ms);

    for (std::int64_t offset : {std::int64_t{3'600'000'000'000}, std::int64_t{-700'000'000}}) {
        const SteadyClock::time_point start = SteadyClock::now();
        const SteadyClock::time_point t = ReceivedAt(RealtimeNow() + offset, sent);
        EXPECT_GE(t, start) << offset;
        EXPECT_LE(t, SteadyClock::now()) << offset;
    }
    const SteadyClock::time_point start = SteadyClock::now();
    EXPECT_GE(ReceivedAt(std::optional<std::int64_t>{}, sent), start);
}

// A real socket stamps what it receives, the error queue included.
TEST(KernelTime, ASocketStampsWhatArrives) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(platform::StampReceives(fd));
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof self;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&self), &length), 0);
    const std::int64_t before = RealtimeNow();
    ASSERT_EQ(::sendto(fd, "x", 1, 0, reinterpret_cast<sockaddr*>(&self), sizeof self), 1);
    char byte;
    alignas(cmsghdr) std::uint8_t control[256];
    iovec iov{&byte, 1};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ASSERT_EQ(::recvmsg(fd, &msg, 0), 1);
    const std::optional<std::int64_t> stamp = ReceiveStamp({control, msg.msg_controllen});
    ASSERT_TRUE(stamp.has_value());
    EXPECT_GE(*stamp, before);
    EXPECT_LE(*stamp, RealtimeNow());
    ::close(fd);
}

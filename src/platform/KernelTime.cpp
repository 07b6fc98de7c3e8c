#include "platform/KernelTime.h"

#include <cstring>
#include <ctime>

#include <sys/socket.h>

namespace platform {

bool StampReceives(int fd) {
    int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0;
}

std::optional<std::int64_t> ReceiveStamp(std::span<const std::uint8_t> control) {
    std::size_t offset = 0;
    const std::size_t header = sizeof(cmsghdr);
    while (offset + header <= control.size()) {
        cmsghdr c;
        std::memcpy(&c, control.data() + offset, header);
        if (c.cmsg_len < CMSG_LEN(0) || c.cmsg_len > control.size() - offset)
            return std::nullopt;
        if (c.cmsg_level == SOL_SOCKET && c.cmsg_type == SCM_TIMESTAMPNS &&
            c.cmsg_len >= CMSG_LEN(sizeof(timespec))) {
            timespec t;
            std::memcpy(&t, control.data() + offset + CMSG_LEN(0), sizeof t);
            if (t.tv_sec < 0 || t.tv_nsec < 0 || t.tv_nsec >= 1000000000)
                return std::nullopt;
            return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
        }
        offset += CMSG_ALIGN(c.cmsg_len);
    }
    return std::nullopt;
}

SteadyClock::time_point ReceivedAt(std::optional<std::int64_t> stamp,
                                   SteadyClock::time_point sent) {
    const SteadyClock::time_point now = SteadyClock::now();
    if (!stamp)
        return now;
    timespec realtime;
    ::clock_gettime(CLOCK_REALTIME, &realtime);
    const std::int64_t age = std::int64_t{realtime.tv_sec} * 1000000000 + realtime.tv_nsec - *stamp;
    if (age < 0)
        return now;
    const SteadyClock::time_point received = now - std::chrono::nanoseconds(age);
    return received < sent ? now : received;
}

SteadyClock::time_point ReceivedAt(std::span<const std::uint8_t> control,
                                   SteadyClock::time_point sent) {
    return ReceivedAt(ReceiveStamp(control), sent);
}

} // namespace platform

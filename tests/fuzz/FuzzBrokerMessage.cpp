// libFuzzer entry for the echo broker's readers: the program's requests and
// the packets its raw sockets receive. The first byte picks the reader;
// whatever they accept must lie inside the bytes given.
#include "icmp-broker-message.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint8_t pick = data[0];
    // A copy of exactly the rest, so that a read past its end is caught.
    std::vector<std::uint8_t> rest(data + 1, data + size);
    const std::uint8_t* bytes = rest.data();
    const std::size_t n = rest.size();
    switch (pick % 3) {
    case 0: {
        icmp_broker_parsed parsed;
        if (icmp_broker_parse_request(bytes, n, 1, &parsed) == 0) {
            if (parsed.data != bytes + sizeof(icmp_broker_request) ||
                sizeof(icmp_broker_request) + parsed.header.data_length != n ||
                parsed.header.data_length > ICMP_BROKER_MAX_DATA || parsed.header.ttl == 0)
                std::abort();
        }
        break;
    }
    case 1:
    case 2: {
        icmp_broker_match m;
        static const std::uint8_t source[16] = {127, 0, 0, 1};
        const std::uint16_t ident = 0x1234;
        int found = pick % 3 == 1 ? icmp_broker_read_packet4(bytes, n, ident, &m)
                                  : icmp_broker_read_packet6(bytes, n, source, ident, &m);
        if (found != 0)
            break;
        if (m.outcome == ICMP_BROKER_ECHO_REPLY && m.data_offset + m.data_length != n)
            std::abort();
        // Match it against a request whose data is the packet's own tail.
        icmp_broker_echo echo{};
        echo.family = pick % 3 == 1 ? ICMP_BROKER_INET : ICMP_BROKER_INET6;
        std::memcpy(echo.address, source, sizeof source);
        echo.ident = ident;
        echo.sequence = m.sequence;
        echo.data = bytes + n / 2;
        echo.data_length = n - n / 2;
        (void)icmp_broker_answers(&m, bytes, &echo);
        break;
    }
    }
    return 0;
}

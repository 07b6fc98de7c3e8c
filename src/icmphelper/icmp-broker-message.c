#include "icmp-broker-message.h"

#include <string.h>

enum {
    ECHO_HEADER = 8,
    IP_HEADER = 20,
    IP6_HEADER = 40,
    PROTO_ICMP = 1,
    PROTO_ICMPV6 = 58,
};

static uint16_t read16(const uint8_t* p) {
    return (uint16_t)((p[0] << 8) | p[1]);
}

uint16_t icmp_broker_checksum(const uint8_t* bytes, size_t size) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < size; i += 2)
        sum += read16(bytes + i);
    if (i < size)
        sum += (uint32_t)bytes[i] << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return (uint16_t)~sum;
}

static int all_zero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return 0;
    return 1;
}

int icmp_broker_parse_request(const uint8_t* bytes, size_t size, uint32_t expected_tag,
                              struct icmp_broker_parsed* out) {
    struct icmp_broker_request h;
    if (bytes == NULL || size < sizeof h)
        return -1;
    memcpy(&h, bytes, sizeof h);
    if (h.magic != ICMP_BROKER_MAGIC || h.tag != expected_tag || h.reserved != 0)
        return -1;
    if (h.data_length > ICMP_BROKER_MAX_DATA || size != sizeof h + h.data_length)
        return -1;
    if (h.ttl == 0 || h.timeout_ms == 0 || h.timeout_ms > ICMP_BROKER_MAX_TIMEOUT_MS)
        return -1;
    if (h.family == ICMP_BROKER_INET) {
        if (h.scope_id != 0 || !all_zero(h.address + 4, 12))
            return -1;
    } else if (h.family != ICMP_BROKER_INET6) {
        return -1;
    }
    out->header = h;
    out->data = bytes + sizeof h;
    return 0;
}

/* The quoted echo request of an error: its type, our identifier, and its
 * sequence and data for icmp_broker_answers. */
static int read_quoted_echo(const uint8_t* echo, size_t size, uint8_t type, uint16_t ident,
                            struct icmp_broker_match* out) {
    if (size < ECHO_HEADER || echo[0] != type || echo[1] != 0 || read16(echo + 4) != ident)
        return -1;
    out->ident = ident;
    out->sequence = read16(echo + 6);
    out->quoted_data = echo + ECHO_HEADER;
    out->quoted_length = size - ECHO_HEADER;
    return 0;
}

int icmp_broker_read_packet4(const uint8_t* p, size_t size, uint16_t ident,
                             struct icmp_broker_match* out) {
    struct icmp_broker_match m;
    memset(&m, 0, sizeof m);
    if (size < IP_HEADER || (p[0] >> 4) != 4 || p[9] != PROTO_ICMP)
        return -1;
    size_t ihl = (size_t)(p[0] & 0x0F) * 4;
    if (ihl < IP_HEADER || size < ihl + ECHO_HEADER)
        return -1;
    const uint8_t* icmp = p + ihl;
    size_t icmp_size = size - ihl;
    m.ttl = p[8];
    m.tos = p[1];
    memcpy(m.address, p + 12, 4);
    if (icmp[0] == 0) {
        if (icmp[1] != 0 || icmp_broker_checksum(icmp, icmp_size) != 0 || read16(icmp + 4) != ident)
            return -1;
        m.outcome = ICMP_BROKER_ECHO_REPLY;
        m.ident = ident;
        m.sequence = read16(icmp + 6);
        m.data_offset = ihl + ECHO_HEADER;
        m.data_length = icmp_size - ECHO_HEADER;
        *out = m;
        return 0;
    }
    /* Destination unreachable, source quench, time exceeded, parameter
     * problem: each quotes our IP header (never with options) and at least
     * the echo header. */
    if (icmp[0] != 3 && icmp[0] != 4 && icmp[0] != 11 && icmp[0] != 12)
        return -1;
    const uint8_t* inner = icmp + ECHO_HEADER;
    size_t inner_size = icmp_size - ECHO_HEADER;
    if (inner_size < IP_HEADER + ECHO_HEADER || inner[0] != 0x45 || inner[9] != PROTO_ICMP)
        return -1;
    if (read_quoted_echo(inner + IP_HEADER, inner_size - IP_HEADER, 8, ident, &m) != 0)
        return -1;
    m.outcome = ICMP_BROKER_ICMP_ERROR;
    m.type = icmp[0];
    m.code = icmp[1];
    /* The quoted destination goes where the reply's source would be
     * compared: icmp_broker_answers checks it against the request. */
    m.data_offset = (size_t)(inner + 16 - p);
    *out = m;
    return 0;
}

int icmp_broker_read_packet6(const uint8_t* msg, size_t size, const uint8_t source[16],
                             uint16_t ident, struct icmp_broker_match* out) {
    struct icmp_broker_match m;
    memset(&m, 0, sizeof m);
    if (size < ECHO_HEADER)
        return -1;
    memcpy(m.address, source, 16);
    /* The kernel checks the checksum of every ICMPv6 message it delivers. */
    if (msg[0] == 129) {
        if (msg[1] != 0 || read16(msg + 4) != ident)
            return -1;
        m.outcome = ICMP_BROKER_ECHO_REPLY;
        m.ident = ident;
        m.sequence = read16(msg + 6);
        m.data_offset = ECHO_HEADER;
        m.data_length = size - ECHO_HEADER;
        *out = m;
        return 0;
    }
    /* Destination unreachable, packet too big, time exceeded, parameter
     * problem: each quotes our IPv6 header (never with extension headers)
     * and at least the echo header. */
    if (msg[0] < 1 || msg[0] > 4)
        return -1;
    const uint8_t* inner = msg + ECHO_HEADER;
    size_t inner_size = size - ECHO_HEADER;
    if (inner_size < IP6_HEADER + ECHO_HEADER || (inner[0] >> 4) != 6 || inner[6] != PROTO_ICMPV6)
        return -1;
    if (read_quoted_echo(inner + IP6_HEADER, inner_size - IP6_HEADER, 128, ident, &m) != 0)
        return -1;
    m.outcome = ICMP_BROKER_ICMP_ERROR;
    m.type = msg[0];
    m.code = msg[1];
    m.data_offset = (size_t)(inner + 24 - msg);
    *out = m;
    return 0;
}

int icmp_broker_answers(const struct icmp_broker_match* m, const uint8_t* packet,
                        const struct icmp_broker_echo* echo) {
    size_t address_size = echo->family == ICMP_BROKER_INET ? 4 : 16;
    if (m->ident != echo->ident || m->sequence != echo->sequence)
        return 0;
    if (m->outcome == ICMP_BROKER_ECHO_REPLY)
        return memcmp(m->address, echo->address, address_size) == 0 &&
               m->data_length == echo->data_length &&
               (echo->data_length == 0 ||
                memcmp(packet + m->data_offset, echo->data, echo->data_length) == 0);
    /* An error: data_offset points at the quoted destination. */
    if (memcmp(packet + m->data_offset, echo->address, address_size) != 0)
        return 0;
    size_t quoted = m->quoted_length < echo->data_length ? m->quoted_length : echo->data_length;
    return quoted == 0 || memcmp(m->quoted_data, echo->data, quoted) == 0;
}

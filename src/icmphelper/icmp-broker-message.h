/*
 * Reading the program's requests and the packets the broker receives, as
 * pure functions of bytes: no state, no system call, nothing read outside
 * the bytes given. The broker and its fuzz target share them.
 */
#ifndef NETSONDE_ICMP_BROKER_MESSAGE_H
#define NETSONDE_ICMP_BROKER_MESSAGE_H

#include <stddef.h>
#include <stdint.h>

#include "icmp-helper-protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A request as received: its header and where its data lies in the bytes. */
struct icmp_broker_parsed {
    struct icmp_broker_request header;
    const uint8_t* data;
};

/* Checks one message from the program: exactly the header and the data it
 * states, the magic, the tag that follows expected_tag - 1, a known family,
 * an IPv4 address without trailing bytes or scope, a TTL of 1 to 255, a
 * time-out of 1 ms to the most, no more data than allowed, reserved bytes
 * zero. Returns 0 and fills out, or -1 (out is then unchanged). */
int icmp_broker_parse_request(const uint8_t* bytes, size_t size, uint32_t expected_tag,
                              struct icmp_broker_parsed* out);

/* What the broker needs to know of a request to recognise its answer. */
struct icmp_broker_echo {
    int family; /* ICMP_BROKER_INET or ICMP_BROKER_INET6 */
    uint8_t address[16];
    uint16_t ident;
    uint16_t sequence;
    const uint8_t* data;
    size_t data_length;
};

/* What a received packet says, when it answers an echo. */
struct icmp_broker_match {
    uint16_t ident, sequence; /* of the request it answers */
    uint8_t outcome;          /* ICMP_BROKER_ECHO_REPLY or ICMP_BROKER_ICMP_ERROR */
    uint8_t type, code;
    uint8_t ttl, tos;    /* IPv4: from the packet's header */
    uint8_t address[16]; /* the node it came from */
    size_t data_offset;  /* ECHO_REPLY: where its data starts in the packet */
    size_t data_length;
    const uint8_t* quoted_data; /* ICMP_ERROR: the part of our data it quotes */
    size_t quoted_length;
};

/* Reads a whole IPv4 datagram from the raw ICMP socket (IPv4), or an
 * ICMPv6 message and its source (IPv6). Returns 0 when it is an echo reply
 * or an error quoting an echo request, both carrying ident; -1 otherwise. */
int icmp_broker_read_packet4(const uint8_t* packet, size_t size, uint16_t ident,
                             struct icmp_broker_match* out);
int icmp_broker_read_packet6(const uint8_t* message, size_t size, const uint8_t source[16],
                             uint16_t ident, struct icmp_broker_match* out);

/* Whether a matched packet answers the request: the reply comes from its
 * destination and carries its sequence and exactly its data, or the error
 * quotes its destination, sequence and the start of its data. */
int icmp_broker_answers(const struct icmp_broker_match* match, const uint8_t* packet,
                        const struct icmp_broker_echo* echo);

/* The Internet checksum of bytes. */
uint16_t icmp_broker_checksum(const uint8_t* bytes, size_t size);

#ifdef __cplusplus
}
#endif

#endif

/*
 * The messages between Netsonde and its echo broker, icmp-helper, on the
 * Unix socket pair that is the broker's fd 3 (SOCK_SEQPACKET: one message
 * per read). Every message is a fixed header, in the host's byte order,
 * followed by exactly the number of data bytes the header states; nothing
 * else ever travels on the channel, least of all a file descriptor.
 *
 *   broker -> program, once:   struct icmp_broker_hello
 *   program -> broker:         struct icmp_broker_request + data
 *   broker -> program:         struct icmp_broker_answer + data
 *
 * Shared by the broker (C) and the program (C++).
 */
#ifndef NETSONDE_ICMP_HELPER_PROTOCOL_H
#define NETSONDE_ICMP_HELPER_PROTOCOL_H

#include <stdint.h>

#define ICMP_BROKER_MAGIC 0x4E534233u /* "NSB3" */
/* Most data bytes of one echo request. */
#define ICMP_BROKER_MAX_DATA 65500
/* Most requests the broker holds at once. */
#define ICMP_BROKER_MAX_PENDING 1024
/* Longest time a request may wait for its answer. */
#define ICMP_BROKER_MAX_TIMEOUT_MS 600000u
/* Most brokers of one user that run at once (per network namespace). */
#define ICMP_BROKER_MAX_PER_USER 4

#define ICMP_BROKER_INET 4
#define ICMP_BROKER_INET6 6

struct icmp_broker_hello {
    uint32_t magic;
    int32_t error;       /* 0, or why the broker ends at once (EUSERS: too many) */
    int32_t inet_error;  /* 0 when IPv4 echo works, or the errno of its socket */
    int32_t inet6_error; /* the same for IPv6 */
};

struct icmp_broker_request {
    uint32_t magic;
    uint32_t tag;         /* one more than the previous request's tag (the first: 1) */
    uint8_t family;       /* ICMP_BROKER_INET or ICMP_BROKER_INET6 */
    uint8_t ttl;          /* time-to-live or hop limit, 1 to 255 */
    uint8_t tos;          /* type of service or traffic class */
    uint8_t reserved;     /* 0 */
    uint32_t scope_id;    /* IPv6 interface of a link-local destination; 0 for IPv4 */
    uint8_t address[16];  /* IPv4: the first four bytes, the rest 0 */
    uint32_t timeout_ms;  /* 1 to ICMP_BROKER_MAX_TIMEOUT_MS */
    uint32_t data_length; /* 0 to ICMP_BROKER_MAX_DATA bytes follow */
};

enum icmp_broker_outcome {
    ICMP_BROKER_ECHO_REPLY = 1, /* the destination answered with our data */
    ICMP_BROKER_ICMP_ERROR = 2, /* a node reported an error quoting the request */
    ICMP_BROKER_TIMED_OUT = 3,  /* nothing answered in time */
    ICMP_BROKER_NOT_SENT = 4,   /* this host refused to send it (error holds the errno) */
};

struct icmp_broker_answer {
    uint32_t magic;
    uint32_t tag; /* the request's */
    uint8_t outcome;
    uint8_t type; /* ICMP_ERROR: the error's type and code */
    uint8_t code;
    uint8_t ttl; /* of the answer: time-to-live or hop limit */
    uint8_t tos; /* type of service or traffic class */
    uint8_t reserved[3];
    int32_t error;        /* NOT_SENT: the errno */
    uint32_t scope_id;    /* IPv6: interface the answer came in on */
    uint8_t address[16];  /* the node that answered */
    int64_t received_ns;  /* CLOCK_MONOTONIC when the answer came in: the kernel's receive
                             time where the socket gives one, else when the broker read it */
    int64_t sent_ns;      /* CLOCK_MONOTONIC just before the request went out; 0: not sent */
    uint32_t data_length; /* ECHO_REPLY: the data bytes that follow */
    uint32_t reserved2;
};

#endif

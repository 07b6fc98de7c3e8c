/*
 * The message icmp-helper sends on its channel (fd 3): this header as the
 * data, and the sockets, if any, as one SCM_RIGHTS control message. Shared
 * by the helper (C) and the program that asks it (C++).
 */
#ifndef NETSONDE_ICMP_HELPER_PROTOCOL_H
#define NETSONDE_ICMP_HELPER_PROTOCOL_H

#include <stdint.h>

#define ICMP_HELPER_MAGIC "NSR1"
/* Most sockets of one family one call may ask for. */
#define ICMP_HELPER_MAX_PER_FAMILY 16
/* The helper ends itself after this long, whatever its caller does. */
#define ICMP_HELPER_LIFETIME_SECONDS 10

struct icmp_helper_header {
    char magic[4];  /* ICMP_HELPER_MAGIC without its terminating zero */
    int32_t error;  /* 0, or the errno of the socket that could not be opened */
    uint32_t count; /* number of sockets that follow: all asked for, or 0 */
};

#endif

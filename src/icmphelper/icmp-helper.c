/*
 * icmp-helper: the echo broker of Netsonde.
 *
 * This is the only part of Netsonde that may hold a capability. It is
 * installed mode 0750 root:netsonde with the file capability cap_net_raw,
 * and it is kept small enough to read at a glance: libc only, no
 * environment, no files but the kernel's socket tables, no arguments.
 *
 * File descriptor 3 must be the program's end of a Unix SOCK_SEQPACKET
 * socket pair. The broker opens one raw ICMP and one raw ICMPv6 socket,
 * makes sure that its user runs no more than a few brokers, lets the kernel
 * pass the sockets only echo replies and errors that carry (or quote) its
 * own identifier, and drops every capability. From then on it keeps the sockets to itself: it reads
 * echo requests from the channel (icmp-helper-protocol.h), builds each
 * packet itself, and answers each request with its echo reply, an ICMP
 * error quoting it, or "nothing in time". Whatever else the sockets
 * receive is dropped here. A malformed message ends the broker without an
 * answer, and so does the program closing its end.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "icmp-broker-message.h"

enum { CHANNEL_FD = 3, ECHO_HEADER = 8, RECEIVE_BURST = 64 };

static int fail(int status, const char* what) {
    fprintf(stderr, "icmp-helper: %s\n", what);
    return status;
}

/* ---- Start-up ------------------------------------------------------- */

/* The raw sockets of one protocol that this user holds in this network
 * namespace, by the kernel's socket table (/proc/net/raw or raw6): the
 * local "port" of a raw socket is its protocol. Nobody else can make a raw
 * socket count for this user: it belongs to whoever created it, and only a
 * process with the capability can. -1 when the table cannot be read. */
static int count_raw(const char* table, unsigned protocol) {
    FILE* f = fopen(table, "re");
    if (f == NULL)
        return -1;
    char line[512];
    int count = 0;
    /* The first line names the columns. */
    if (fgets(line, sizeof line, f) == NULL) {
        fclose(f);
        return -1;
    }
    while (fgets(line, sizeof line, f) != NULL) {
        char local[64];
        unsigned uid = 0;
        /* sl local rem st tx:rx tr:when retrnsmt uid */
        if (sscanf(line, " %*s %63s %*s %*s %*s %*s %*s %u", local, &uid) != 2)
            continue;
        const char* colon = strrchr(local, ':');
        if (colon == NULL)
            continue;
        if ((unsigned)strtoul(colon + 1, NULL, 16) == protocol && uid == (unsigned)getuid())
            ++count;
    }
    fclose(f);
    return count;
}

/* 0 when this broker, whose sockets are open already, is one of at most
 * ICMP_BROKER_MAX_PER_USER of this user; EUSERS when there are more, or an
 * errno when they cannot be counted. Each broker holds one raw socket of
 * each family it could open, so the family with more of them counts the
 * brokers. Two that start at once both count each other: at worst both
 * refuse, never both go beyond the limit, however many are stopped. */
static int count_brokers(void) {
    int four = count_raw("/proc/net/raw", IPPROTO_ICMP);
    int six = count_raw("/proc/net/raw6", IPPROTO_ICMPV6);
    if (four < 0 && six < 0)
        return errno != 0 ? errno : EIO;
    int brokers = four > six ? four : six;
    return brokers > ICMP_BROKER_MAX_PER_USER ? EUSERS : 0;
}

/* The kernel's receive filter of the IPv4 socket, which sees the whole
 * datagram: echo replies with our identifier, and the four errors that
 * quote an echo request with it. */
static int attach_filter4(int fd, uint16_t ident) {
    struct sock_filter code[] = {
        /* 0 */ BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),       /* X = IP header length */
        /* 1 */ BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),        /* ICMP type */
        /* 2 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 4, 0), /* echo reply: 7 */
        /* 3 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 3, 5, 0), /* errors: 9 */
        /* 4 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 4, 4, 0),
        /* 5 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 11, 3, 0),
        /* 6 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 12, 2, 12),
        /* 7 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4), /* the reply's identifier */
        /* 8 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ident, 9, 10),
        /* 9: X = IP header length + quoted IP header length */
        /* 9 */ BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),
        /* 10 */ BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0F),
        /* 11 */ BPF_STMT(BPF_ALU | BPF_LSH | BPF_K, 2),
        /* 12 */ BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0),
        /* 13 */ BPF_STMT(BPF_MISC | BPF_TAX, 0),
        /* 14 */ BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8), /* quoted type */
        /* 15 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 8, 0, 3),
        /* 16 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 12), /* quoted identifier */
        /* 17 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ident, 0, 1),
        /* 18 */ BPF_STMT(BPF_RET | BPF_K, 0xFFFF), /* accept */
        /* 19 */ BPF_STMT(BPF_RET | BPF_K, 0),      /* drop */
    };
    struct sock_fprog program = {sizeof code / sizeof code[0], code};
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
}

/* The same for the IPv6 socket, which sees the ICMPv6 message only. */
static int attach_filter6(int fd, uint16_t ident) {
    struct sock_filter code[] = {
        /* 0 */ BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 0), /* type */
        /* 1 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 129, 0, 2),
        /* 2 */ BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4), /* the reply's identifier */
        /* 3 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ident, 8, 9),
        /* 4 */ BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, 4, 8, 0), /* errors are types 1 to 4 */
        /* 5 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 7, 0),
        /* 6 */ BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 8 + 6), /* quoted next header */
        /* 7 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_ICMPV6, 0, 5),
        /* 8 */ BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 8 + 40), /* quoted type */
        /* 9 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 128, 0, 3),
        /* 10 */ BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 8 + 40 + 4), /* quoted identifier */
        /* 11 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ident, 0, 1),
        /* 12 */ BPF_STMT(BPF_RET | BPF_K, 0xFFFF), /* accept */
        /* 13 */ BPF_STMT(BPF_RET | BPF_K, 0),      /* drop */
    };
    struct sock_fprog program = {sizeof code / sizeof code[0], code};
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
}

/* Opens a family's raw socket with its filters, locked so that nothing can
 * change them later. Returns the socket, or -1 with errno set. */
static int open_raw(int family, uint16_t ident) {
    int six = family == AF_INET6;
    int fd = socket(family, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK,
                    six ? IPPROTO_ICMPV6 : IPPROTO_ICMP);
    if (fd < 0)
        return -1;
    int on = 1;
    int size = 1 << 20;
    int ok;
    if (six) {
        struct icmp6_filter types;
        ICMP6_FILTER_SETBLOCKALL(&types);
        for (int type = 1; type <= 4; ++type)
            ICMP6_FILTER_SETPASS(type, &types);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &types);
        ok = setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &types, sizeof types) == 0 &&
             setsockopt(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on) == 0 &&
             setsockopt(fd, IPPROTO_IPV6, IPV6_RECVTCLASS, &on, sizeof on) == 0 &&
             attach_filter6(fd, ident) == 0;
    } else {
        struct icmp_filter types = {~((1u << 0) | (1u << 3) | (1u << 4) | (1u << 11) | (1u << 12))};
        ok = setsockopt(fd, SOL_RAW, ICMP_FILTER, &types, sizeof types) == 0 &&
             attach_filter4(fd, ident) == 0;
    }
    ok = ok && setsockopt(fd, SOL_SOCKET, SO_LOCK_FILTER, &on, sizeof on) == 0;
    /* The kernel's receive time of each answer; without it the time of
     * reading stands in. */
    if (ok)
        (void)setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    if (!ok) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    /* Room for the answers of many requests at once; capped by the kernel. */
    (void)setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    /* Whatever arrived before the filter was attached is nobody's. */
    char scrap;
    while (recv(fd, &scrap, 1, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
    }
    return fd;
}

/* Empties every capability set this process can change and makes sure that
 * nothing it might run could gain one again. Returns 0 when the permitted,
 * effective, inheritable and ambient sets are verifiably empty. */
static int drop_capabilities(void) {
    /* The bounding set shrinks only with CAP_SETPCAP (root); elsewhere it is
     * left as it is, and with empty sets and no-new-privs it grants nothing. */
    for (int cap = 0; cap <= 63; ++cap)
        if (prctl(PR_CAPBSET_READ, cap, 0, 0, 0) == 1)
            (void)prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
        return -1;
    struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    struct __user_cap_data_struct data[2];
    memset(data, 0, sizeof data);
    if (syscall(SYS_capset, &header, data) != 0)
        return -1;
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return -1;
    /* Changing credentials makes a process dumpable again: say it last. */
    if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0)
        return -1;
    memset(data, 0xff, sizeof data);
    if (syscall(SYS_capget, &header, data) != 0)
        return -1;
    for (int i = 0; i < 2; ++i)
        if (data[i].effective != 0 || data[i].permitted != 0 || data[i].inheritable != 0)
            return -1;
    for (int cap = 0; cap <= 63; ++cap)
        if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, cap, 0, 0) == 1)
            return -1;
    return 0;
}

/* How long the broker keeps looking for work without sleeping after it
 * last had some. */
#define SPIN_NS 100000

/* ---- Requests held ---------------------------------------------------- */

struct pending {
    int used;
    uint32_t tag;
    struct icmp_broker_echo echo;
    uint32_t scope_id;
    struct timespec deadline;
    int64_t sent_ns; /* CLOCK_MONOTONIC just before it went out */
};

static struct pending held[ICMP_BROKER_MAX_PENDING];
static int held_count;
static int raw4 = -1, raw6 = -1;
static int error4, error6;
static uint16_t ident4, ident6;
static uint16_t next_sequence;

static struct timespec now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

static int64_t nanoseconds(struct timespec t) {
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

/* When a message read now came in, on CLOCK_MONOTONIC: the kernel's
 * receive stamp (CLOCK_REALTIME, SO_TIMESTAMPNS) aged against the realtime
 * clock, so that a late wake-up of the broker does not lengthen the round
 * trip; the time of reading where there is no stamp or the realtime clock
 * was set since. */
static int64_t received_ns(struct msghdr* msg) {
    int64_t read_at = nanoseconds(now());
    for (struct cmsghdr* c = CMSG_FIRSTHDR(msg); c != NULL; c = CMSG_NXTHDR(msg, c)) {
        struct timespec stamp;
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS ||
            c->cmsg_len < CMSG_LEN(sizeof stamp))
            continue;
        memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        struct timespec realtime;
        clock_gettime(CLOCK_REALTIME, &realtime);
        int64_t age = nanoseconds(realtime) - nanoseconds(stamp);
        if (age >= 0 && age <= read_at)
            return read_at - age;
        break;
    }
    return read_at;
}

static void release(struct pending* p) {
    free((void*)p->echo.data);
    memset(p, 0, sizeof *p);
    --held_count;
}

/* Sends an answer; a program that can no longer take it ends the broker. */
static void answer(const struct icmp_broker_answer* header, const uint8_t* data, size_t length) {
    struct iovec parts[2] = {{(void*)header, sizeof *header}, {(void*)data, length}};
    struct msghdr msg;
    memset(&msg, 0, sizeof msg);
    msg.msg_iov = parts;
    msg.msg_iovlen = length > 0 ? 2 : 1;
    ssize_t sent;
    do
        sent = sendmsg(CHANNEL_FD, &msg, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent != (ssize_t)(sizeof *header + length))
        exit(0);
}

static void answer_plainly(struct pending* p, uint8_t outcome, int error) {
    struct icmp_broker_answer a;
    memset(&a, 0, sizeof a);
    a.magic = ICMP_BROKER_MAGIC;
    a.tag = p->tag;
    a.outcome = outcome;
    a.error = error;
    a.received_ns = nanoseconds(now());
    answer(&a, NULL, 0);
    release(p);
}

/* A sequence number that no request of the family held now carries. */
static uint16_t fresh_sequence(int family) {
    for (;;) {
        uint16_t candidate = next_sequence++;
        int taken = 0;
        for (int i = 0; i < ICMP_BROKER_MAX_PENDING && !taken; ++i)
            taken =
                held[i].used && held[i].echo.family == family && held[i].echo.sequence == candidate;
        if (!taken)
            return candidate;
    }
}

/* Builds and sends the echo request of a held request; the errno, or 0. */
static int send_echo(struct pending* p, const struct icmp_broker_request* r) {
    static uint8_t packet[ECHO_HEADER + ICMP_BROKER_MAX_DATA];
    int six = p->echo.family == ICMP_BROKER_INET6;
    int fd = six ? raw6 : raw4;
    if (fd < 0)
        return six ? error6 : error4;
    size_t size = ECHO_HEADER + p->echo.data_length;
    uint16_t ident = p->echo.ident;
    packet[0] = six ? 128 : 8;
    packet[1] = 0;
    packet[2] = packet[3] = 0;
    packet[4] = (uint8_t)(ident >> 8);
    packet[5] = (uint8_t)ident;
    packet[6] = (uint8_t)(p->echo.sequence >> 8);
    packet[7] = (uint8_t)p->echo.sequence;
    if (p->echo.data_length > 0)
        memcpy(packet + ECHO_HEADER, p->echo.data, p->echo.data_length);
    /* The kernel computes the ICMPv6 checksum, which covers the addresses. */
    if (!six) {
        uint16_t sum = icmp_broker_checksum(packet, size);
        packet[2] = (uint8_t)(sum >> 8);
        packet[3] = (uint8_t)sum;
    }
    struct sockaddr_in to4;
    struct sockaddr_in6 to6;
    memset(&to4, 0, sizeof to4);
    memset(&to6, 0, sizeof to6);
    to4.sin_family = AF_INET;
    memcpy(&to4.sin_addr, r->address, 4);
    to6.sin6_family = AF_INET6;
    memcpy(&to6.sin6_addr, r->address, 16);
    to6.sin6_scope_id = r->scope_id;
    /* The request's time-to-live (hop limit) and type of service (traffic
     * class) go with the packet alone; the socket keeps its own. */
    int ttl = r->ttl, tos = r->tos;
    union {
        struct cmsghdr align;
        uint8_t bytes[2 * CMSG_SPACE(sizeof(int))];
    } control;
    memset(&control, 0, sizeof control);
    struct iovec iov = {packet, size};
    struct msghdr msg;
    memset(&msg, 0, sizeof msg);
    msg.msg_name = six ? (void*)&to6 : (void*)&to4;
    msg.msg_namelen = six ? sizeof to6 : sizeof to4;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control.bytes;
    msg.msg_controllen = sizeof control.bytes;
    struct cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = six ? IPPROTO_IPV6 : IPPROTO_IP;
    c->cmsg_type = six ? IPV6_HOPLIMIT : IP_TTL;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    memcpy(CMSG_DATA(c), &ttl, sizeof ttl);
    c = CMSG_NXTHDR(&msg, c);
    c->cmsg_level = six ? IPPROTO_IPV6 : IPPROTO_IP;
    c->cmsg_type = six ? IPV6_TCLASS : IP_TOS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    memcpy(CMSG_DATA(c), &tos, sizeof tos);
    ssize_t sent;
    p->sent_ns = nanoseconds(now());
    do
        sent = sendmsg(fd, &msg, MSG_DONTWAIT);
    while (sent < 0 && errno == EINTR);
    return sent < 0 ? errno : 0;
}

/* Takes one request from the program. A message that breaks any rule ends
 * the broker: the program that sent it is not the one it expects. */
static void take_request(const uint8_t* bytes, size_t size) {
    static uint32_t expected_tag = 1;
    struct icmp_broker_parsed r;
    if (icmp_broker_parse_request(bytes, size, expected_tag, &r) != 0)
        exit(3);
    if (held_count >= ICMP_BROKER_MAX_PENDING)
        exit(3);
    ++expected_tag;
    struct pending* p = NULL;
    for (int i = 0; i < ICMP_BROKER_MAX_PENDING && p == NULL; ++i)
        if (!held[i].used)
            p = &held[i];
    uint8_t* data = NULL;
    if (r.header.data_length > 0) {
        data = malloc(r.header.data_length);
        if (data == NULL)
            exit(4);
        memcpy(data, r.data, r.header.data_length);
    }
    memset(p, 0, sizeof *p);
    p->used = 1;
    ++held_count;
    p->tag = r.header.tag;
    p->echo.family = r.header.family;
    memcpy(p->echo.address, r.header.address, 16);
    p->echo.ident = r.header.family == ICMP_BROKER_INET6 ? ident6 : ident4;
    p->echo.sequence = fresh_sequence(r.header.family);
    p->echo.data = data;
    p->echo.data_length = r.header.data_length;
    p->scope_id = r.header.scope_id;
    struct timespec t = now();
    int64_t deadline = nanoseconds(t) + (int64_t)r.header.timeout_ms * 1000000;
    p->deadline.tv_sec = deadline / 1000000000;
    p->deadline.tv_nsec = deadline % 1000000000;
    int error = send_echo(p, &r.header);
    if (error != 0)
        answer_plainly(p, ICMP_BROKER_NOT_SENT, error);
}

/* Reads what a raw socket holds and answers the requests it answers. */
static void take_packets(int fd, int family) {
    static uint8_t buffer[65536];
    for (int round = 0; round < RECEIVE_BURST; ++round) {
        struct sockaddr_in6 from;
        union {
            struct cmsghdr align;
            uint8_t bytes[256];
        } control;
        struct iovec iov = {buffer, sizeof buffer};
        struct msghdr msg;
        memset(&msg, 0, sizeof msg);
        memset(&from, 0, sizeof from);
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control.bytes;
        msg.msg_controllen = sizeof control.bytes;
        ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            continue; /* an error a router's report left on the socket */
        }
        int64_t received = received_ns(&msg);
        if (msg.msg_flags & MSG_TRUNC)
            continue;
        struct icmp_broker_match m;
        int found =
            family == ICMP_BROKER_INET6
                ? icmp_broker_read_packet6(buffer, (size_t)n, from.sin6_addr.s6_addr, ident6, &m)
                : icmp_broker_read_packet4(buffer, (size_t)n, ident4, &m);
        if (found != 0)
            continue;
        if (family == ICMP_BROKER_INET6) {
            for (struct cmsghdr* c = CMSG_FIRSTHDR(&msg); c != NULL; c = CMSG_NXTHDR(&msg, c)) {
                int value;
                if (c->cmsg_level != IPPROTO_IPV6 || c->cmsg_len != CMSG_LEN(sizeof value))
                    continue;
                memcpy(&value, CMSG_DATA(c), sizeof value);
                if (c->cmsg_type == IPV6_HOPLIMIT)
                    m.ttl = (uint8_t)value;
                else if (c->cmsg_type == IPV6_TCLASS)
                    m.tos = (uint8_t)value;
            }
        }
        for (int i = 0; i < ICMP_BROKER_MAX_PENDING; ++i) {
            struct pending* p = &held[i];
            if (!p->used || p->echo.family != family || !icmp_broker_answers(&m, buffer, &p->echo))
                continue;
            struct icmp_broker_answer a;
            memset(&a, 0, sizeof a);
            a.magic = ICMP_BROKER_MAGIC;
            a.tag = p->tag;
            a.outcome = m.outcome;
            a.type = m.type;
            a.code = m.code;
            a.ttl = m.ttl;
            a.tos = m.tos;
            memcpy(a.address, m.address, 16);
            /* fe80::/10: the interface tells which node it is. */
            if (family == ICMP_BROKER_INET6 && m.address[0] == 0xFE &&
                (m.address[1] & 0xC0) == 0x80)
                a.scope_id = from.sin6_scope_id;
            a.received_ns = received;
            a.sent_ns = p->sent_ns;
            int reply = m.outcome == ICMP_BROKER_ECHO_REPLY;
            a.data_length = reply ? (uint32_t)m.data_length : 0;
            answer(&a, reply ? buffer + m.data_offset : NULL, reply ? m.data_length : 0);
            release(p);
            break;
        }
    }
}

/* Answers the requests whose time is up; returns the time left until the
 * next deadline in ms (-1: nothing held). */
static int expire(void) {
    int64_t t = nanoseconds(now());
    int64_t next = -1;
    for (int i = 0; i < ICMP_BROKER_MAX_PENDING && held_count > 0; ++i) {
        if (!held[i].used)
            continue;
        int64_t left = nanoseconds(held[i].deadline) - t;
        if (left <= 0)
            answer_plainly(&held[i], ICMP_BROKER_TIMED_OUT, 0);
        else if (next < 0 || left < next)
            next = left;
    }
    return next < 0 ? -1 : (int)((next + 999999) / 1000000);
}

static uint16_t random16(void) {
    uint16_t value = 0;
    while (getrandom(&value, sizeof value, 0) != (ssize_t)sizeof value)
        if (errno != EINTR)
            exit(4);
    return value;
}

int main(int argc, char** argv) {
    (void)argv;
    /* Nobody may attach to it or read its memory, from the start. */
    (void)prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    /* Nothing but the channel and the standard streams stays open. */
    (void)syscall(SYS_close_range, CHANNEL_FD + 1, ~0u, 0);

    int type = 0;
    socklen_t length = sizeof type;
    if (getsockopt(CHANNEL_FD, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_SEQPACKET)
        return fail(2, "file descriptor 3 is not a Unix SOCK_SEQPACKET socket");
    int domain = 0;
    length = sizeof domain;
    if (getsockopt(CHANNEL_FD, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 || domain != AF_UNIX)
        return fail(2, "file descriptor 3 is not a Unix SOCK_SEQPACKET socket");
    if (argc != 1)
        return fail(2, "usage: icmp-helper (takes no arguments; the channel is fd 3)");

    struct icmp_broker_hello hello;
    memset(&hello, 0, sizeof hello);
    hello.magic = ICMP_BROKER_MAGIC;
    ident4 = random16();
    ident6 = random16();
    next_sequence = random16();
    raw4 = open_raw(AF_INET, ident4);
    error4 = raw4 < 0 ? errno : 0;
    raw6 = open_raw(AF_INET6, ident6);
    error6 = raw6 < 0 ? errno : 0;
    hello.inet_error = error4;
    hello.inet6_error = error6;
    /* Counted with its own sockets open, so that one starting at the same
     * time sees this one. */
    if (raw4 >= 0 || raw6 >= 0)
        hello.error = count_brokers();
    if (drop_capabilities() != 0)
        return fail(2, "could not drop the capabilities");
    if (send(CHANNEL_FD, &hello, sizeof hello, MSG_NOSIGNAL) != (ssize_t)sizeof hello)
        return fail(2, "could not greet the program");
    if (hello.error == EUSERS)
        return fail(1, "this user runs as many brokers as allowed already");
    if (hello.error != 0)
        return fail(1, "the brokers of this user cannot be counted");

    static uint8_t message[sizeof(struct icmp_broker_request) + ICMP_BROKER_MAX_DATA + 1];
    int64_t busy_until = 0;
    for (;;) {
        int timeout = expire();
        /* Shortly after a request or an answer the next one is likely to
         * follow within microseconds (a ping sends its next echo as soon as
         * the last one has ended): look again without sleeping, for a
         * sleeping process takes longer to wake than that. */
        int spinning = timeout != 0 && nanoseconds(now()) < busy_until;
        struct pollfd fds[3] = {{CHANNEL_FD, POLLIN, 0}, {raw4, POLLIN, 0}, {raw6, POLLIN, 0}};
        int ready = poll(fds, 3, spinning ? 0 : timeout);
        if (ready < 0 && errno != EINTR)
            return fail(2, "poll failed");
        if (ready == 0 && spinning)
            sched_yield();
        if (ready <= 0)
            continue;
        busy_until = nanoseconds(now()) + SPIN_NS;
        if (fds[1].revents & POLLIN)
            take_packets(raw4, ICMP_BROKER_INET);
        if (fds[2].revents & POLLIN)
            take_packets(raw6, ICMP_BROKER_INET6);
        if (fds[0].revents & POLLIN) {
            /* One byte more than the largest request: a longer one is seen
             * as such instead of cut short. */
            ssize_t n = recv(CHANNEL_FD, message, sizeof message, MSG_DONTWAIT);
            if (n == 0)
                return 0;
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return 0;
            if (n > 0)
                take_request(message, (size_t)n);
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            return 0;
        }
    }
}

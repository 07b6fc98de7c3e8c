/*
 * icmp-helper: opens raw ICMP sockets for Netsonde and hands them over.
 *
 * This is the only part of Netsonde that may hold a capability. It is
 * installed mode 0750 root:netsonde with the file capability cap_net_raw, and
 * it is kept small enough to read at a glance: libc only, no environment, no
 * files, no input but its two arguments.
 *
 *   icmp-helper INET INET6
 *
 * INET and INET6 are how many raw sockets of each family to open (0 to 16
 * each, at least one in all). File descriptor 3 must be the caller's end of
 * a Unix socket pair. The helper opens the sockets, drops every capability
 * (all sets, the ambient set, and the bounding set where it may) and sets
 * no-new-privs, then sends one message on fd 3: a header followed by the
 * sockets as SCM_RIGHTS, IPv4 ones first. When a socket cannot be opened it
 * sends the header with the errno and no sockets. It then waits until the
 * caller closes its end, so that it can be inspected while it runs, and
 * exits. SIGALRM ends it if the caller never does.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "icmp-helper-protocol.h"

enum { CHANNEL_FD = 3 };

static int fail(const char* what) {
    fprintf(stderr, "icmp-helper: %s\n", what);
    return 2;
}

/* A count argument: decimal digits only, 0 to ICMP_HELPER_MAX_PER_FAMILY. */
static int parse_count(const char* text) {
    int value = 0;
    if (text[0] == '\0' || strlen(text) > 2)
        return -1;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return -1;
        value = value * 10 + (*p - '0');
    }
    return value <= ICMP_HELPER_MAX_PER_FAMILY ? value : -1;
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

static int send_result(int error, const int* fds, int count) {
    struct icmp_helper_header header;
    memset(&header, 0, sizeof header);
    memcpy(header.magic, ICMP_HELPER_MAGIC, sizeof header.magic);
    header.error = error;
    header.count = (uint32_t)count;
    struct iovec iov = {&header, sizeof header};
    union {
        struct cmsghdr align;
        char bytes[CMSG_SPACE(sizeof(int) * 2 * ICMP_HELPER_MAX_PER_FAMILY)];
    } control;
    memset(&control, 0, sizeof control);
    struct msghdr msg;
    memset(&msg, 0, sizeof msg);
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    if (count > 0) {
        msg.msg_control = control.bytes;
        msg.msg_controllen = CMSG_SPACE(sizeof(int) * (size_t)count);
        struct cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * (size_t)count);
        memcpy(CMSG_DATA(c), fds, sizeof(int) * (size_t)count);
    }
    ssize_t sent;
    do
        sent = sendmsg(CHANNEL_FD, &msg, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == (ssize_t)sizeof header ? 0 : -1;
}

int main(int argc, char** argv) {
    alarm(ICMP_HELPER_LIFETIME_SECONDS);
    /* Nothing but the channel and the standard streams stays open. */
    (void)syscall(SYS_close_range, CHANNEL_FD + 1, ~0u, 0);

    int domain = 0;
    socklen_t length = sizeof domain;
    if (getsockopt(CHANNEL_FD, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 || domain != AF_UNIX)
        return fail("file descriptor 3 is not a Unix socket");
    if (argc != 3)
        return fail("usage: icmp-helper INET INET6 (with the channel on fd 3)");
    int inet = parse_count(argv[1]);
    int inet6 = parse_count(argv[2]);
    if (inet < 0 || inet6 < 0 || inet + inet6 == 0)
        return fail("each count must be 0 to 16, and at least one socket asked for");

    int fds[2 * ICMP_HELPER_MAX_PER_FAMILY];
    int count = 0;
    int error = 0;
    for (int i = 0; i < inet + inet6 && error == 0; ++i) {
        int fd = i < inet ? socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)
                          : socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        if (fd < 0)
            error = errno;
        else
            fds[count++] = fd;
    }

    if (drop_capabilities() != 0) {
        /* Never hand anything over while still privileged. */
        for (int i = 0; i < count; ++i)
            close(fds[i]);
        return fail("could not drop the capabilities");
    }
    if (error != 0) {
        for (int i = 0; i < count; ++i)
            close(fds[i]);
        count = 0;
    }
    if (send_result(error, fds, count) != 0)
        return fail("could not send the sockets");
    for (int i = 0; i < count; ++i)
        close(fds[i]);

    /* Wait for the caller to close its end. */
    for (;;) {
        char scrap;
        ssize_t n = read(CHANNEL_FD, &scrap, 1);
        if (n == 0 || (n < 0 && errno != EINTR))
            break;
    }
    return error == 0 ? 0 : 1;
}

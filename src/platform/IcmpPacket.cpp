#include "platform/IcmpPacket.h"

#include "platform/IcmpTypes.h"

#include <algorithm>
#include <cstring>

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace platform::icmppacket {

namespace {

std::uint16_t read16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t readAddress(const std::uint8_t* p) {
    std::uint32_t a;
    std::memcpy(&a, p, 4);
    return a;
}

bool sameData(std::span<const std::uint8_t> got, std::span<const std::uint8_t> sent) {
    return got.size() == sent.size() && std::equal(got.begin(), got.end(), sent.begin());
}

Result reject(Verdict v) {
    Result r;
    r.verdict = v;
    return r;
}

// An echo reply's header and data against the request; the source is
// checked by the caller, who knows it.
Verdict checkEchoReply(std::span<const std::uint8_t> icmp, const Request& request) {
    if (icmp.size() < EchoHeaderSize)
        return Verdict::Truncated;
    if (icmp[0] != EchoReply)
        return Verdict::WrongType;
    if (request.checkIdent && read16(icmp.data() + 4) != request.ident)
        return Verdict::WrongIdent;
    if (read16(icmp.data() + 6) != request.sequence)
        return Verdict::WrongSequence;
    return Verdict::Answer;
}

} // namespace

std::uint16_t Checksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    std::size_t length = bytes.size();
    for (std::size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (length & 1)
        sum += static_cast<std::uint32_t>(bytes[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t ident, std::uint16_t sequence,
                                           std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> packet(EchoHeaderSize + data.size());
    packet[0] = EchoRequest;
    packet[4] = static_cast<std::uint8_t>(ident >> 8);
    packet[5] = static_cast<std::uint8_t>(ident);
    packet[6] = static_cast<std::uint8_t>(sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(sequence);
    std::copy(data.begin(), data.end(), packet.begin() + EchoHeaderSize);
    std::uint16_t sum = Checksum(packet);
    packet[2] = static_cast<std::uint8_t>(sum >> 8);
    packet[3] = static_cast<std::uint8_t>(sum);
    return packet;
}

std::uint32_t ErrorStatus(std::uint8_t type, std::uint8_t code) {
    switch (type) {
    case DestUnreachable:
        switch (code) {
        case 0:
        case 6:
        case 9:
        case 11:
            return IcmpStatus::DestNetUnreachable;
        case 1:
        case 7:
        case 8:
        case 10:
        case 12:
        case 13:
        case 14:
        case 15:
            return IcmpStatus::DestHostUnreachable;
        case 2:
            return IcmpStatus::DestProtUnreachable;
        case 3:
            return IcmpStatus::DestPortUnreachable;
        case 4:
            return IcmpStatus::PacketTooBig;
        case 5:
            return IcmpStatus::BadRoute;
        default:
            return IcmpStatus::GeneralFailure;
        }
    case TimeExceeded:
        return code == 1 ? IcmpStatus::TtlExpiredReassem : IcmpStatus::TtlExpiredTransit;
    case ParameterProblem:
        return IcmpStatus::ParamProblem;
    case SourceQuench:
        return IcmpStatus::SourceQuench;
    default:
        return 0;
    }
}

Result ParseRawPacket(std::span<const std::uint8_t> p, const Request& request) {
    if (p.size() < MinIpHeaderSize)
        return reject(Verdict::Truncated);
    if ((p[0] >> 4) != 4)
        return reject(Verdict::NotIpv4);
    std::size_t ihl = static_cast<std::size_t>(p[0] & 0x0F) * 4;
    if (ihl < MinIpHeaderSize)
        return reject(Verdict::NotIpv4);
    if (p.size() < ihl + EchoHeaderSize)
        return reject(Verdict::Truncated);
    std::span<const std::uint8_t> icmp = p.subspan(ihl);
    Result a;
    a.ttl = p[8];
    a.tos = p[1];
    a.flags = p[6] & 0xE0;
    a.address = readAddress(p.data() + 12);

    if (icmp[0] == EchoReply) {
        // Raw sockets see every echo reply of the host, so each field counts:
        // another handle's or another program's reply differs in identifier,
        // sequence or source, and a forged one in sequence or data.
        if (Checksum(icmp) != 0)
            return reject(Verdict::BadChecksum);
        Verdict v = checkEchoReply(icmp, request);
        if (v != Verdict::Answer)
            return reject(v);
        if (a.address != request.destination)
            return reject(Verdict::WrongSource);
        if (!sameData(icmp.subspan(EchoHeaderSize), request.data))
            return reject(Verdict::WrongData);
        a.verdict = Verdict::Answer;
        a.status = IcmpStatus::Success;
        a.dataOffset = ihl + EchoHeaderSize;
        a.dataLength = icmp.size() - EchoHeaderSize;
        return a;
    }
    std::uint32_t status = ErrorStatus(icmp[0], icmp[1]);
    if (status == 0)
        return reject(Verdict::WrongType);
    // The quoted datagram: our IP header, which never has options, and at
    // least the 8-byte echo header.
    std::span<const std::uint8_t> inner = icmp.subspan(EchoHeaderSize);
    if (inner.size() < MinIpHeaderSize + EchoHeaderSize)
        return reject(Verdict::QuoteTooShort);
    if ((inner[0] >> 4) != 4 || inner[9] != IPPROTO_ICMP)
        return reject(Verdict::QuoteNotOurs);
    if ((inner[0] & 0x0F) != 5)
        return reject(Verdict::QuoteHasOptions);
    if (readAddress(inner.data() + 16) != request.destination)
        return reject(Verdict::QuoteNotOurs);
    const std::uint8_t* quoted = inner.data() + MinIpHeaderSize;
    if (quoted[0] != EchoRequest)
        return reject(Verdict::QuoteNotOurs);
    if (read16(quoted + 4) != request.ident)
        return reject(Verdict::WrongIdent);
    if (read16(quoted + 6) != request.sequence)
        return reject(Verdict::WrongSequence);
    a.verdict = Verdict::Answer;
    a.status = status;
    return a;
}

Result ParseDatagramReply(std::span<const std::uint8_t> message, std::uint32_t source,
                          std::uint8_t ttl, std::uint8_t tos, const Request& request) {
    // The kernel delivers to a datagram socket only echo replies with its
    // identifier and a valid checksum; sequence, source and data are ours to
    // check.
    Verdict v = checkEchoReply(message, request);
    if (v != Verdict::Answer)
        return reject(v);
    if (source != request.destination)
        return reject(Verdict::WrongSource);
    if (!sameData(message.subspan(EchoHeaderSize), request.data))
        return reject(Verdict::WrongData);
    Result a;
    a.verdict = Verdict::Answer;
    a.status = IcmpStatus::Success;
    a.address = source;
    a.dataOffset = EchoHeaderSize;
    a.dataLength = message.size() - EchoHeaderSize;
    a.ttl = ttl;
    a.tos = tos;
    return a;
}

Control ParseControl(std::span<const std::uint8_t> control) {
    Control out;
    std::size_t offset = 0;
    const std::size_t header = sizeof(cmsghdr);
    while (offset + header <= control.size()) {
        cmsghdr c;
        std::memcpy(&c, control.data() + offset, header);
        if (c.cmsg_len < header || c.cmsg_len > control.size() - offset)
            break;
        const std::uint8_t* data = control.data() + offset + CMSG_LEN(0);
        std::size_t length = c.cmsg_len - CMSG_LEN(0);
        if (c.cmsg_len < CMSG_LEN(0))
            break;
        if (c.cmsg_level == IPPROTO_IP) {
            if ((c.cmsg_type == IP_TTL || c.cmsg_type == IP_TOS) && length >= 1) {
                std::uint8_t value = *data;
                if (length >= sizeof(int)) {
                    int v;
                    std::memcpy(&v, data, sizeof v);
                    value = static_cast<std::uint8_t>(v);
                }
                (c.cmsg_type == IP_TTL ? out.ttl : out.tos) = value;
            } else if (c.cmsg_type == IP_RECVERR && length >= sizeof(sock_extended_err)) {
                sock_extended_err ee;
                std::memcpy(&ee, data, sizeof ee);
                out.error.present = true;
                out.error.errnum = ee.ee_errno;
                out.error.origin = ee.ee_origin;
                out.error.type = ee.ee_type;
                out.error.code = ee.ee_code;
                if (length >= sizeof ee + sizeof(sockaddr_in)) {
                    sockaddr_in offender;
                    std::memcpy(&offender, data + sizeof ee, sizeof offender);
                    if (offender.sin_family == AF_INET) {
                        out.error.offenderKnown = true;
                        out.error.offender = offender.sin_addr.s_addr;
                    }
                }
            }
        }
        if (c.cmsg_level == IPPROTO_IPV6) {
            if ((c.cmsg_type == IPV6_HOPLIMIT || c.cmsg_type == IPV6_TCLASS) &&
                length >= sizeof(int)) {
                int v;
                std::memcpy(&v, data, sizeof v);
                (c.cmsg_type == IPV6_HOPLIMIT ? out.ttl : out.tos) = static_cast<std::uint8_t>(v);
            } else if (c.cmsg_type == IPV6_RECVERR && length >= sizeof(sock_extended_err)) {
                sock_extended_err ee;
                std::memcpy(&ee, data, sizeof ee);
                out.error.present = true;
                out.error.errnum = ee.ee_errno;
                out.error.origin = ee.ee_origin;
                out.error.type = ee.ee_type;
                out.error.code = ee.ee_code;
                if (length >= sizeof ee + sizeof(sockaddr_in6)) {
                    sockaddr_in6 offender;
                    std::memcpy(&offender, data + sizeof ee, sizeof offender);
                    if (offender.sin6_family == AF_INET6) {
                        out.error.offenderKnown = true;
                        std::memcpy(out.error.offender6.data(), &offender.sin6_addr, 16);
                    }
                }
            }
        }
        std::size_t step = CMSG_ALIGN(c.cmsg_len);
        if (step > control.size() - offset)
            break;
        offset += step;
    }
    out.error.ttl = out.ttl;
    return out;
}

Result ParseErrorQueue(std::span<const std::uint8_t> quoted, const ErrorRecord& record,
                       const Request& request) {
    if (!record.present)
        return reject(Verdict::NotFromIcmp);
    // An error this host raised itself may come without our header (the
    // kernel queues only an IP header for some); it can only be ours.
    if (record.origin == SO_EE_ORIGIN_LOCAL && quoted.size() < EchoHeaderSize) {
        Result r = reject(Verdict::LocalError);
        r.errnum = static_cast<int>(record.errnum);
        return r;
    }
    // An ICMP error carries our echo header and data as sent; a shorter one
    // was cut short and cannot be matched.
    if (quoted.size() < EchoHeaderSize)
        return reject(Verdict::QuoteTooShort);
    if (quoted[0] != EchoRequest)
        return reject(Verdict::QuoteNotOurs);
    if (request.checkIdent && read16(quoted.data() + 4) != request.ident)
        return reject(Verdict::WrongIdent);
    if (read16(quoted.data() + 6) != request.sequence)
        return reject(Verdict::WrongSequence);
    if (record.origin == SO_EE_ORIGIN_LOCAL) {
        Result r = reject(Verdict::LocalError);
        r.errnum = static_cast<int>(record.errnum);
        return r;
    }
    if (record.origin != SO_EE_ORIGIN_ICMP)
        return reject(Verdict::NotFromIcmp);
    if (record.quotedDestination != request.destination)
        return reject(Verdict::QuoteNotOurs);
    std::uint32_t status = ErrorStatus(record.type, record.code);
    if (status == 0)
        return reject(Verdict::WrongType);
    Result a;
    a.verdict = Verdict::Answer;
    a.status = status;
    a.address = record.offenderKnown ? record.offender : 0;
    a.ttl = record.ttl;
    return a;
}

// ---- ICMPv6 -----------------------------------------------------------

namespace {

// An echo reply's header against the request (type, identifier, sequence).
Verdict checkEcho6Reply(std::span<const std::uint8_t> icmp, const Request6& request) {
    if (icmp.size() < EchoHeaderSize)
        return Verdict::Truncated;
    if (icmp[0] != Echo6Reply)
        return Verdict::WrongType;
    if (request.checkIdent && read16(icmp.data() + 4) != request.ident)
        return Verdict::WrongIdent;
    if (read16(icmp.data() + 6) != request.sequence)
        return Verdict::WrongSequence;
    return Verdict::Answer;
}

Result6 reject6(Verdict v) {
    Result6 r;
    r.verdict = v;
    return r;
}

// The quoted echo header of an error against the request.
Verdict checkQuotedEcho6(const std::uint8_t* quoted, const Request6& request) {
    if (quoted[0] != Echo6Request)
        return Verdict::QuoteNotOurs;
    if (request.checkIdent && read16(quoted + 4) != request.ident)
        return Verdict::WrongIdent;
    if (read16(quoted + 6) != request.sequence)
        return Verdict::WrongSequence;
    return Verdict::Answer;
}

} // namespace

std::vector<std::uint8_t> BuildEcho6Request(std::uint16_t ident, std::uint16_t sequence,
                                            std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> packet = BuildEchoRequest(ident, sequence, data);
    packet[0] = Echo6Request;
    packet[2] = packet[3] = 0;
    return packet;
}

std::uint32_t Error6Status(std::uint8_t type, std::uint8_t code) {
    switch (type) {
    case Dest6Unreachable:
        switch (code) {
        case 0: // no route to destination
        case 2: // beyond the scope of the source address
        case 6: // reject route to destination
            return IcmpStatus::DestNetUnreachable;
        case 1: // communication administratively prohibited
        case 3: // address unreachable
        case 5: // source address failed ingress/egress policy
            return IcmpStatus::DestHostUnreachable;
        case 4:
            return IcmpStatus::DestPortUnreachable;
        case 7: // error in the source routing header
            return IcmpStatus::BadRoute;
        default:
            return IcmpStatus::GeneralFailure;
        }
    case PacketTooBig6:
        return IcmpStatus::PacketTooBig;
    case TimeExceeded6:
        return code == 1 ? IcmpStatus::TtlExpiredReassem : IcmpStatus::TtlExpiredTransit;
    case ParameterProblem6:
        // An unrecognised next header means the destination does not speak
        // the protocol.
        return code == 1 ? IcmpStatus::DestProtUnreachable : IcmpStatus::ParamProblem;
    default:
        return 0;
    }
}

Result6 ParseIcmp6Message(std::span<const std::uint8_t> m, const Address6& source,
                          std::uint8_t hopLimit, std::uint8_t trafficClass,
                          const Request6& request) {
    if (m.size() < EchoHeaderSize)
        return reject6(Verdict::Truncated);
    Result6 a;
    a.address = source;
    a.hopLimit = hopLimit;
    a.trafficClass = trafficClass;
    if (m[0] == Echo6Reply) {
        Verdict v = checkEcho6Reply(m, request);
        if (v != Verdict::Answer)
            return reject6(v);
        if (source != request.destination)
            return reject6(Verdict::WrongSource);
        if (!sameData(m.subspan(EchoHeaderSize), request.data))
            return reject6(Verdict::WrongData);
        a.verdict = Verdict::Answer;
        a.status = IcmpStatus::Success;
        a.dataOffset = EchoHeaderSize;
        a.dataLength = m.size() - EchoHeaderSize;
        return a;
    }
    std::uint32_t status = Error6Status(m[0], m[1]);
    if (status == 0)
        return reject6(Verdict::WrongType);
    // The quoted packet: our IPv6 header, which never has extension headers,
    // and at least the 8-byte echo header.
    std::span<const std::uint8_t> inner = m.subspan(EchoHeaderSize);
    if (inner.size() < Ipv6HeaderSize + EchoHeaderSize)
        return reject6(Verdict::QuoteTooShort);
    if ((inner[0] >> 4) != 6)
        return reject6(Verdict::QuoteNotOurs);
    if (inner[6] != IPPROTO_ICMPV6)
        return reject6(inner[6] == IPPROTO_HOPOPTS || inner[6] == IPPROTO_ROUTING ||
                               inner[6] == IPPROTO_FRAGMENT || inner[6] == IPPROTO_DSTOPTS
                           ? Verdict::QuoteHasOptions
                           : Verdict::QuoteNotOurs);
    if (!std::equal(request.destination.begin(), request.destination.end(), inner.begin() + 24))
        return reject6(Verdict::QuoteNotOurs);
    Verdict v = checkQuotedEcho6(inner.data() + Ipv6HeaderSize, request);
    if (v != Verdict::Answer)
        return reject6(v);
    a.verdict = Verdict::Answer;
    a.status = status;
    return a;
}

Result6 ParseErrorQueue6(std::span<const std::uint8_t> quoted, const ErrorRecord& record,
                         const Request6& request) {
    if (!record.present)
        return reject6(Verdict::NotFromIcmp);
    if (record.origin == SO_EE_ORIGIN_LOCAL && quoted.size() < EchoHeaderSize) {
        Result6 r = reject6(Verdict::LocalError);
        r.errnum = static_cast<int>(record.errnum);
        return r;
    }
    if (quoted.size() < EchoHeaderSize)
        return reject6(Verdict::QuoteTooShort);
    Verdict v = checkQuotedEcho6(quoted.data(), request);
    if (v != Verdict::Answer)
        return reject6(v);
    if (record.origin == SO_EE_ORIGIN_LOCAL) {
        Result6 r = reject6(Verdict::LocalError);
        r.errnum = static_cast<int>(record.errnum);
        return r;
    }
    if (record.origin != SO_EE_ORIGIN_ICMP6)
        return reject6(Verdict::NotFromIcmp);
    if (record.quotedDestination6 != request.destination)
        return reject6(Verdict::QuoteNotOurs);
    std::uint32_t status = Error6Status(record.type, record.code);
    if (status == 0)
        return reject6(Verdict::WrongType);
    Result6 a;
    a.verdict = Verdict::Answer;
    a.status = status;
    if (record.offenderKnown)
        a.address = record.offender6;
    a.hopLimit = record.ttl;
    return a;
}

} // namespace platform::icmppacket

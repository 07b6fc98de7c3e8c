#include "platform/IcmpPacket.h"

#include "platform/IcmpTypes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

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

template <class R> R reject(Verdict v) {
    R r;
    r.verdict = v;
    return r;
}

// An echo header (a reply, or the request an error quotes) of the given
// type against the request's identifier and sequence number.
template <class Req>
Verdict checkEchoHeader(const std::uint8_t* icmp, std::uint8_t type, const Req& request,
                        Verdict wrongType) {
    if (icmp[0] != type)
        return wrongType;
    if (request.checkIdent && read16(icmp + 4) != request.ident)
        return Verdict::WrongIdent;
    if (read16(icmp + 6) != request.sequence)
        return Verdict::WrongSequence;
    return Verdict::Answer;
}

// An echo reply against the request: its header, its source and its data.
template <class Req, class Address>
Verdict checkEchoReply(std::span<const std::uint8_t> icmp, std::uint8_t replyType,
                       const Address& source, const Req& request) {
    if (icmp.size() < EchoHeaderSize)
        return Verdict::Truncated;
    if (Verdict v = checkEchoHeader(icmp.data(), replyType, request, Verdict::WrongType);
        v != Verdict::Answer)
        return v;
    if (source != request.destination)
        return Verdict::WrongSource;
    if (!sameData(icmp.subspan(EchoHeaderSize), request.data))
        return Verdict::WrongData;
    return Verdict::Answer;
}

// What differs between the error queues of the two families.
struct Family4 {
    using Req = Request;
    using Res = Result;
    static constexpr std::uint8_t echoRequest = EchoRequest;
    static constexpr std::uint8_t icmpOrigin = SO_EE_ORIGIN_ICMP;
    static std::uint32_t status(std::uint8_t type, std::uint8_t code) {
        return ErrorStatus(type, code);
    }
    static const auto& quotedDestination(const ErrorRecord& record) {
        return record.quotedDestination;
    }
    static void setSender(Res& a, const ErrorRecord& record) {
        a.address = record.offenderKnown ? record.offender : 0;
        a.ttl = record.ttl;
    }
};

struct Family6 {
    using Req = Request6;
    using Res = Result6;
    static constexpr std::uint8_t echoRequest = Echo6Request;
    static constexpr std::uint8_t icmpOrigin = SO_EE_ORIGIN_ICMP6;
    static std::uint32_t status(std::uint8_t type, std::uint8_t code) {
        return Error6Status(type, code);
    }
    static const auto& quotedDestination(const ErrorRecord& record) {
        return record.quotedDestination6;
    }
    static void setSender(Res& a, const ErrorRecord& record) {
        if (record.offenderKnown)
            a.address = record.offender6;
        a.hopLimit = record.ttl;
    }
};

// An error-queue entry: the record and the quoted echo header with its data.
template <class F>
typename F::Res parseErrorQueue(std::span<const std::uint8_t> quoted, const ErrorRecord& record,
                                const typename F::Req& request) {
    using Res = typename F::Res;
    auto localError = [&] {
        Res r = reject<Res>(Verdict::LocalError);
        r.errnum = static_cast<int>(record.errnum);
        return r;
    };
    if (!record.present)
        return reject<Res>(Verdict::NotFromIcmp);
    // An error this host raised itself may come without our header (the
    // kernel queues only an IP header for some); it can only be ours.
    if (record.origin == SO_EE_ORIGIN_LOCAL && quoted.size() < EchoHeaderSize)
        return localError();
    // An ICMP error carries our echo header and data as sent; a shorter one
    // was cut short and cannot be matched.
    if (quoted.size() < EchoHeaderSize)
        return reject<Res>(Verdict::QuoteTooShort);
    if (Verdict v = checkEchoHeader(quoted.data(), F::echoRequest, request, Verdict::QuoteNotOurs);
        v != Verdict::Answer)
        return reject<Res>(v);
    if (record.origin == SO_EE_ORIGIN_LOCAL)
        return localError();
    if (record.origin != F::icmpOrigin)
        return reject<Res>(Verdict::NotFromIcmp);
    if (F::quotedDestination(record) != request.destination)
        return reject<Res>(Verdict::QuoteNotOurs);
    std::uint32_t status = F::status(record.type, record.code);
    if (status == 0)
        return reject<Res>(Verdict::WrongType);
    Res a;
    a.verdict = Verdict::Answer;
    a.status = status;
    F::setSender(a, record);
    return a;
}

// The extended error of an error-queue entry into error; the offender's
// address that may follow it, when the entry is long enough to hold one.
template <class SockAddr>
std::optional<SockAddr> readExtendedError(const std::uint8_t* data, std::size_t length,
                                          ErrorRecord& error) {
    sock_extended_err ee;
    std::memcpy(&ee, data, sizeof ee);
    error.present = true;
    error.errnum = ee.ee_errno;
    error.origin = ee.ee_origin;
    error.type = ee.ee_type;
    error.code = ee.ee_code;
    if (length < sizeof ee + sizeof(SockAddr))
        return std::nullopt;
    SockAddr offender;
    std::memcpy(&offender, data + sizeof ee, sizeof offender);
    return offender;
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

std::uint32_t SendErrorStatus(int error) {
    switch (error) {
    case EMSGSIZE:
        return IcmpStatus::PacketTooBig;
    case ENETUNREACH:
        return IcmpStatus::DestNetUnreachable;
    case EHOSTUNREACH:
        return IcmpStatus::DestHostUnreachable;
    case ENOBUFS:
    case ENOMEM:
        return IcmpStatus::NoResources;
    case EINVAL:
        return IcmpStatus::BadReq;
    default:
        return IcmpStatus::GeneralFailure;
    }
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
        return reject<Result>(Verdict::Truncated);
    if ((p[0] >> 4) != 4)
        return reject<Result>(Verdict::NotIpv4);
    std::size_t ihl = static_cast<std::size_t>(p[0] & 0x0F) * 4;
    if (ihl < MinIpHeaderSize)
        return reject<Result>(Verdict::NotIpv4);
    if (p.size() < ihl + EchoHeaderSize)
        return reject<Result>(Verdict::Truncated);
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
            return reject<Result>(Verdict::BadChecksum);
        if (Verdict v = checkEchoReply(icmp, EchoReply, a.address, request); v != Verdict::Answer)
            return reject<Result>(v);
        a.verdict = Verdict::Answer;
        a.status = IcmpStatus::Success;
        a.dataOffset = ihl + EchoHeaderSize;
        a.dataLength = icmp.size() - EchoHeaderSize;
        return a;
    }
    std::uint32_t status = ErrorStatus(icmp[0], icmp[1]);
    if (status == 0)
        return reject<Result>(Verdict::WrongType);
    // The quoted datagram: our IP header, which never has options, and at
    // least the 8-byte echo header.
    std::span<const std::uint8_t> inner = icmp.subspan(EchoHeaderSize);
    if (inner.size() < MinIpHeaderSize + EchoHeaderSize)
        return reject<Result>(Verdict::QuoteTooShort);
    if ((inner[0] >> 4) != 4 || inner[9] != IPPROTO_ICMP)
        return reject<Result>(Verdict::QuoteNotOurs);
    if ((inner[0] & 0x0F) != 5)
        return reject<Result>(Verdict::QuoteHasOptions);
    if (readAddress(inner.data() + 16) != request.destination)
        return reject<Result>(Verdict::QuoteNotOurs);
    const std::uint8_t* quoted = inner.data() + MinIpHeaderSize;
    if (quoted[0] != EchoRequest)
        return reject<Result>(Verdict::QuoteNotOurs);
    if (read16(quoted + 4) != request.ident)
        return reject<Result>(Verdict::WrongIdent);
    if (read16(quoted + 6) != request.sequence)
        return reject<Result>(Verdict::WrongSequence);
    a.verdict = Verdict::Answer;
    a.status = status;
    return a;
}

Result ParseDatagramReply(std::span<const std::uint8_t> message, std::uint32_t source,
                          std::uint8_t ttl, std::uint8_t tos, const Request& request) {
    // The kernel delivers to a datagram socket only echo replies with its
    // identifier and a valid checksum; sequence, source and data are ours to
    // check.
    if (Verdict v = checkEchoReply(message, EchoReply, source, request); v != Verdict::Answer)
        return reject<Result>(v);
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
                auto offender = readExtendedError<sockaddr_in>(data, length, out.error);
                if (offender && offender->sin_family == AF_INET) {
                    out.error.offenderKnown = true;
                    out.error.offender = offender->sin_addr.s_addr;
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
                auto offender = readExtendedError<sockaddr_in6>(data, length, out.error);
                if (offender && offender->sin6_family == AF_INET6) {
                    out.error.offenderKnown = true;
                    std::memcpy(out.error.offender6.data(), &offender->sin6_addr, 16);
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
    return parseErrorQueue<Family4>(quoted, record, request);
}

// ---- ICMPv6 -----------------------------------------------------------

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
        return reject<Result6>(Verdict::Truncated);
    Result6 a;
    a.address = source;
    a.hopLimit = hopLimit;
    a.trafficClass = trafficClass;
    if (m[0] == Echo6Reply) {
        if (Verdict v = checkEchoReply(m, Echo6Reply, source, request); v != Verdict::Answer)
            return reject<Result6>(v);
        a.verdict = Verdict::Answer;
        a.status = IcmpStatus::Success;
        a.dataOffset = EchoHeaderSize;
        a.dataLength = m.size() - EchoHeaderSize;
        return a;
    }
    std::uint32_t status = Error6Status(m[0], m[1]);
    if (status == 0)
        return reject<Result6>(Verdict::WrongType);
    // The quoted packet: our IPv6 header, which never has extension headers,
    // and at least the 8-byte echo header.
    std::span<const std::uint8_t> inner = m.subspan(EchoHeaderSize);
    if (inner.size() < Ipv6HeaderSize + EchoHeaderSize)
        return reject<Result6>(Verdict::QuoteTooShort);
    if ((inner[0] >> 4) != 6)
        return reject<Result6>(Verdict::QuoteNotOurs);
    if (inner[6] != IPPROTO_ICMPV6)
        return reject<Result6>(inner[6] == IPPROTO_HOPOPTS || inner[6] == IPPROTO_ROUTING ||
                                       inner[6] == IPPROTO_FRAGMENT || inner[6] == IPPROTO_DSTOPTS
                                   ? Verdict::QuoteHasOptions
                                   : Verdict::QuoteNotOurs);
    if (!std::equal(request.destination.begin(), request.destination.end(), inner.begin() + 24))
        return reject<Result6>(Verdict::QuoteNotOurs);
    if (Verdict v = checkEchoHeader(inner.data() + Ipv6HeaderSize, Echo6Request, request,
                                    Verdict::QuoteNotOurs);
        v != Verdict::Answer)
        return reject<Result6>(v);
    a.verdict = Verdict::Answer;
    a.status = status;
    return a;
}

Result6 ParseErrorQueue6(std::span<const std::uint8_t> quoted, const ErrorRecord& record,
                         const Request6& request) {
    return parseErrorQueue<Family6>(quoted, record, request);
}

} // namespace platform::icmppacket

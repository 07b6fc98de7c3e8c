#include "echo/PortEcho.h"

#include "platform/WinSock.h"

#include <cstring>

PortEcho::PortEcho() : FProbes(std::make_unique<platform::PortProbes>()) {}

PortEcho::~PortEcho() = default;

platform::PortProbes::Target PortEcho::TargetOf(int family, std::uint32_t address,
                                                const TIpv6Address& address6,
                                                platform::ProbeKind kind, std::uint16_t port) {
    platform::PortProbes::Target t;
    t.kind = kind;
    t.port = port;
    if (family == platform::AfInet6) {
        t.family = 6;
        std::memcpy(t.address.data(), address6.Bytes, 16);
        t.scopeId = address6.ScopeId;
    } else {
        t.family = 4;
        std::memcpy(t.address.data(), &address, 4);
    }
    return t;
}

void PortEcho::Send(const platform::PortProbes::Target& target, std::uint8_t ttl,
                    std::uint16_t timeoutMs,
                    std::function<void(const platform::PortProbes::Outcome&)> done) {
    FProbes->Send(target, {ttl, timeoutMs}, std::move(done));
}

platform::PortProbes::Outcome PortEcho::SendNow(const platform::PortProbes::Target& target,
                                                std::uint8_t ttl, std::uint16_t timeoutMs) {
    return platform::PortProbes::ProbeNow(target, {ttl, timeoutMs});
}

void PortEcho::Fill(const platform::PortProbes::Outcome& outcome, int family, int& status,
                    TEchoReply& reply, TEcho6Reply& reply6) {
    bool answered = outcome.status == IcmpStatus::Success;
    for (std::uint8_t byte : outcome.from)
        answered = answered || byte != 0;
    if (!answered) {
        status = static_cast<int>(outcome.status);
        return;
    }
    status = 0;
    // Round to the nearest millisecond, as a stamped echo reply is.
    const auto ms = static_cast<std::uint32_t>((outcome.roundTripUs + 500) / 1000);
    if (family == platform::AfInet6) {
        reply6 = TEcho6Reply{};
        std::memcpy(reply6.Address.Bytes, outcome.from.data(), 16);
        reply6.Status = outcome.status;
        reply6.RoundTripTime = ms;
        reply = TEchoReply{};
        reply.Address = 0;
        reply.Status = outcome.status;
        reply.RoundTripTime = ms;
        return;
    }
    reply = TEchoReply{};
    std::memcpy(&reply.Address, outcome.from.data(), 4);
    reply.Status = outcome.status;
    reply.RoundTripTime = ms;
}

QString PortEcho::AnswerWords(platform::PortAnswer answer) {
    switch (answer) {
    case platform::PortAnswer::Connected:
        return QStringLiteral("connected");
    case platform::PortAnswer::Refused:
        return QStringLiteral("refused");
    case platform::PortAnswer::Reply:
        return QStringLiteral("reply");
    case platform::PortAnswer::PortUnreachable:
        return QStringLiteral("port unreachable");
    case platform::PortAnswer::None:
        break;
    }
    return {};
}

QString PortEcho::HostWithPort(const QString& host, platform::ProbeKind kind, std::uint16_t port) {
    const QString shown =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shown + platform::PortSuffix(kind, port);
}

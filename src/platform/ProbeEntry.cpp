#include "platform/ProbeEntry.h"

namespace platform {

namespace {

constexpr int MaxPort = 65535;

// The port text after the colon: digits, then nothing, "/tcp" or "/udp".
std::optional<ProbeEntry> ReadPort(const QString& host, QStringView rest, const QString& text,
                                   QString* error) {
    ProbeKind kind = ProbeKind::Tcp;
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    QStringView digits = rest;
    if (slash >= 0) {
        const QStringView protocol = rest.mid(slash + 1);
        digits = rest.first(slash);
        if (protocol.compare(QLatin1String("udp"), Qt::CaseInsensitive) == 0) {
            kind = ProbeKind::Udp;
        } else if (protocol.compare(QLatin1String("tcp"), Qt::CaseInsensitive) != 0) {
            if (error != nullptr)
                *error = QStringLiteral("%1: the protocol after \"/\" is tcp or udp, not \"%2\".")
                             .arg(text, protocol.toString());
            return std::nullopt;
        }
    }
    bool digitsOnly = !digits.isEmpty() && digits.size() <= 5;
    for (QChar c : digits)
        digitsOnly = digitsOnly && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int port = digitsOnly ? digits.toInt() : 0;
    if (port < 1 || port > MaxPort) {
        if (error != nullptr)
            *error = QStringLiteral("%1: the port after the host is a number from 1 to %2.")
                         .arg(text)
                         .arg(MaxPort);
        return std::nullopt;
    }
    if (host.isEmpty()) {
        if (error != nullptr)
            *error = QStringLiteral("%1: a host comes before the port.").arg(text);
        return std::nullopt;
    }
    return ProbeEntry{kind, host, static_cast<std::uint16_t>(port)};
}

} // namespace

std::optional<ProbeEntry> ParseProbeEntry(const QString& text, QString* error) {
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(QLatin1Char('['))) {
        const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
        if (close > 0 && close + 1 < trimmed.size() && trimmed.at(close + 1) == QLatin1Char(':'))
            return ReadPort(trimmed.mid(1, close - 1), QStringView(trimmed).mid(close + 2), text,
                            error);
        if (close > 0 && close + 1 < trimmed.size()) {
            if (error != nullptr)
                *error = QStringLiteral("%1: a colon and a port follow the bracketed address.")
                             .arg(text);
            return std::nullopt;
        }
        // "[fd00::1]" names no port and stays what it always was.
        return ProbeEntry{ProbeKind::Icmp, text, 0};
    }
    const qsizetype colon = trimmed.indexOf(QLatin1Char(':'));
    // No colon, or an IPv6 address without brackets: a plain entry.
    if (colon < 0 || trimmed.indexOf(QLatin1Char(':'), colon + 1) >= 0)
        return ProbeEntry{ProbeKind::Icmp, text, 0};
    return ReadPort(trimmed.first(colon), QStringView(trimmed).mid(colon + 1), text, error);
}

std::optional<ProbeEntry> ParseProbeTarget(const QString& text, QString* error) {
    const QString trimmed = text.trimmed();
    ProbeKind kind = ProbeKind::Icmp;
    if (trimmed.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive))
        kind = ProbeKind::Tcp;
    else if (trimmed.startsWith(QLatin1String("udp://"), Qt::CaseInsensitive))
        kind = ProbeKind::Udp;
    else {
        std::optional<ProbeEntry> entry = ParseProbeEntry(trimmed, error);
        if (entry)
            entry->host = entry->host.trimmed();
        return entry;
    }
    const QString rest = trimmed.mid(6);
    std::optional<ProbeEntry> entry = ParseProbeEntry(rest);
    if (!entry || entry->kind == ProbeKind::Icmp || rest.contains(QLatin1Char('/'))) {
        if (error != nullptr)
            *error = QStringLiteral("%1: a target is %2://HOST:PORT with a port from 1 to 65535, "
                                    "an IPv6 address in brackets.")
                         .arg(text, QLatin1String(ProbeKindName(kind)));
        return std::nullopt;
    }
    entry->kind = kind;
    return entry;
}

QString ProbeTargetText(const ProbeEntry& entry) {
    if (entry.kind == ProbeKind::Icmp)
        return entry.host;
    const QString host = entry.host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + entry.host + QLatin1Char(']')
                             : entry.host;
    return QLatin1String(ProbeKindName(entry.kind)) + QStringLiteral("://") + host +
           QLatin1Char(':') + QString::number(entry.port);
}

QString PortSuffix(ProbeKind kind, std::uint16_t port) {
    switch (kind) {
    case ProbeKind::Tcp:
        return QLatin1Char(':') + QString::number(port);
    case ProbeKind::Udp:
        return QLatin1Char(':') + QString::number(port) + QStringLiteral("/udp");
    case ProbeKind::Icmp:
        break;
    }
    return {};
}

const char* ProbeKindName(ProbeKind kind) {
    switch (kind) {
    case ProbeKind::Tcp:
        return "tcp";
    case ProbeKind::Udp:
        return "udp";
    case ProbeKind::Icmp:
        break;
    }
    return "icmp";
}

} // namespace platform

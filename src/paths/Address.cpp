#include "paths/Address.h"

#include <QStringList>
#include <cstring>
#include <functional>

#include <arpa/inet.h>
#include <net/if.h>
#include <sys/socket.h>

namespace paths {

QString Address::ToString() const {
    if (family == 0)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(family == 6 ? AF_INET6 : AF_INET, bytes.data(), text, sizeof text);
    return QString::fromLatin1(text);
}

std::size_t AddressHash::operator()(const Address& a) const noexcept {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::memcpy(&high, a.bytes.data(), 8);
    std::memcpy(&low, a.bytes.data() + 8, 8);
    return std::hash<std::uint64_t>()(high * 31 + low) ^ static_cast<std::size_t>(a.family);
}

Address AddressOf(const platform::AsyncEcho::Target& target) {
    Address a;
    a.family = target.family == 6 ? 6 : 4;
    std::memcpy(a.bytes.data(), target.address.data(), a.family == 6 ? 16 : 4);
    return a;
}

std::optional<platform::AsyncEcho::Target> ParseTarget(const QString& text) {
    QString literal = text.trimmed();
    if (literal.startsWith(QLatin1Char('[')) && literal.endsWith(QLatin1Char(']')))
        literal = literal.mid(1, literal.size() - 2);
    platform::AsyncEcho::Target target;
    const QByteArray bytes = literal.toLatin1();
    if (::inet_pton(AF_INET, bytes.constData(), target.address.data()) == 1) {
        target.family = 4;
        return target;
    }
    const qsizetype percent = literal.indexOf(QLatin1Char('%'));
    const QByteArray host = percent < 0 ? bytes : bytes.left(percent);
    if (::inet_pton(AF_INET6, host.constData(), target.address.data()) != 1)
        return std::nullopt;
    target.family = 6;
    if (percent >= 0) {
        const QByteArray zone = bytes.mid(percent + 1);
        bool number = false;
        const uint index = zone.toUInt(&number);
        target.scopeId = number ? index : ::if_nametoindex(zone.constData());
        if (target.scopeId == 0)
            return std::nullopt;
    }
    return target;
}

QString TargetText(const platform::AsyncEcho::Target& target) {
    QString text = AddressOf(target).ToString();
    if (target.family == 6 && target.scopeId != 0)
        text += QLatin1Char('%') + QString::number(target.scopeId);
    return text;
}

QString RouteText(const Route& route) {
    QStringList hops;
    for (const std::vector<Address>& set : route) {
        if (set.empty()) {
            hops << QStringLiteral("*");
            continue;
        }
        QStringList names;
        for (const Address& a : set)
            names << a.ToString();
        hops << names.join(QLatin1Char('|'));
    }
    return hops.join(QLatin1Char(' '));
}

} // namespace paths

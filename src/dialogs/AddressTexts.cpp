#include "dialogs/AddressTexts.h"

#include "platform/WinSock.h"

namespace AddressTexts {

namespace {

// An IPv6 network text: it ends in ':' and, with a last group added, is an
// IPv6 address ("fd00:12::" or "fd00:1:2:3:4:5:6:"). Gives that address.
bool Ipv6Net(const QString& net, TIpv6Address& address) {
    if (!net.endsWith(QLatin1Char(':')))
        return false;
    const QByteArray text = (net + QLatin1Char('0')).toLatin1();
    return platform::inet_addr6(text.constData(), address);
}

} // namespace

QStringList Range(const QString& net, int from, int to) {
    QStringList texts;
    TIpv6Address address;
    if (Ipv6Net(net, address)) {
        // The last 16-bit group runs from `from` to `to`, in canonical text.
        for (int n = from; n <= to; ++n) {
            if (n < 0 || n > 0xFFFF)
                continue;
            address.Bytes[14] = static_cast<std::uint8_t>(n >> 8);
            address.Bytes[15] = static_cast<std::uint8_t>(n);
            texts << QString::fromStdString(platform::inet_ntoa6(address));
        }
        return texts;
    }
    for (int n = from; n <= to; ++n) {
        // The number has at least three digits; a sign goes before the zeros.
        const QString digits = QStringLiteral("%1").arg(qAbs(n), 3, 10, QLatin1Char('0'));
        texts << net + (n < 0 ? QStringLiteral("-") : QString()) + digits;
    }
    return texts;
}

} // namespace AddressTexts

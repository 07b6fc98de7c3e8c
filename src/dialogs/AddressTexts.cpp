#include "dialogs/AddressTexts.h"

namespace AddressTexts {

QStringList Range(const QString& net, int from, int to) {
    QStringList texts;
    for (int n = from; n <= to; ++n) {
        // The number has at least three digits; a sign goes before the zeros.
        const QString digits = QStringLiteral("%1").arg(qAbs(n), 3, 10, QLatin1Char('0'));
        texts << net + (n < 0 ? QStringLiteral("-") : QString()) + digits;
    }
    return texts;
}

} // namespace AddressTexts

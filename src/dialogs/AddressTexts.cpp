#include "dialogs/AddressTexts.h"

namespace AddressTexts {

namespace {

int compareFolded(const QString& a, const QString& b) {
    return QString::localeAwareCompare(a.toCaseFolded(), b.toCaseFolded());
}

} // namespace

bool Same(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0 || compareFolded(a, b) == 0;
}

bool Less(const QString& a, const QString& b) {
    const int folded = compareFolded(a, b);
    if (folded != 0)
        return folded < 0;
    return a < b;
}

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

#include "hosts/TPackedLines.h"

namespace {

// Lets QVariant::toStringList() unpack the lines.
const bool registered =
    QMetaType::registerConverter<TPackedLines, QStringList>(&TPackedLines::Lines);

} // namespace

QVariant TPackedLines::FromJoined(QString joined) {
    (void)registered;
    return QVariant::fromValue(TPackedLines(std::move(joined)));
}

QStringList TPackedLines::Lines() const {
    return FJoined.split(u'\n');
}

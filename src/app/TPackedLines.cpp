#include "app/TPackedLines.h"

#include <QVariant>

namespace {

// Lets QVariant::toStringList() unpack the lines.
const bool registered =
    QMetaType::registerConverter<TPackedLines, QStringList>(&TPackedLines::Lines);

} // namespace

QVariant TPackedLines::Pack(const QStringList& lines) {
    (void)registered;
    if (lines.isEmpty())
        return QVariant(lines);
    for (const QString& line : lines)
        if (line.contains(u'\n'))
            return QVariant(lines);
    return QVariant::fromValue(TPackedLines(lines.join(u'\n')));
}

QStringList TPackedLines::Lines() const {
    return FJoined.split(u'\n');
}

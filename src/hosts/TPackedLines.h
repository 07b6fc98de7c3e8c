#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>

// The result lines of one entry held as a single text. A list of lines costs
// a string and a list slot for every line; a session of hundreds of
// thousands of hosts loads into a fraction of the memory this way. Wherever
// an entry's data is read as a QStringList (QVariant::toStringList), the
// lines come back as they were.
class TPackedLines {
public:
    TPackedLines() = default;

    // The data for lines joined with LF, none of which holds one itself.
    static QVariant FromJoined(QString joined);

    QStringList Lines() const;
    // The lines joined with LF.
    const QString& Joined() const { return FJoined; }
    bool operator==(const TPackedLines&) const = default;

private:
    explicit TPackedLines(QString joined) : FJoined(std::move(joined)) {}
    QString FJoined;
};

Q_DECLARE_METATYPE(TPackedLines)

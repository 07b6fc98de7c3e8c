#include "files/AddressListFile.h"

#include "files/TextFile.h"

#include <QFile>

namespace AddressListFile {

QStringList Parse(const QByteArray& bytes) {
    QStringList entries;
    const char* p = bytes.constData();
    const char* const end = p + bytes.size();
    while (p < end && *p != '\0') {
        const char* start = p;
        while (p < end && *p != '\0' && *p != '\r' && *p != '\n')
            ++p;
        entries << files::DecodeTextLine(QByteArrayView(start, p - start));
        if (p < end && *p == '\r')
            ++p;
        if (p < end && *p == '\n')
            ++p;
    }
    return entries;
}

QByteArray Format(const QStringList& entries) {
    QByteArray out;
    for (const QString& entry : entries) {
        out += files::EncodeTextLine(entry);
        out += "\r\n";
    }
    return out;
}

bool Read(const QString& path, QStringList& entries, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = files::FileOpenError(path, file.errorString());
        return false;
    }
    // Read in pieces so that a zero byte ends the reading at once, even in an
    // endless source.
    QByteArray bytes;
    constexpr qint64 chunkSize = 64 * 1024;
    for (;;) {
        QByteArray chunk = file.read(chunkSize);
        if (chunk.isEmpty()) {
            if (file.error() != QFileDevice::NoError) {
                error = files::FileReadError(path, file.errorString());
                return false;
            }
            break;
        }
        const qsizetype zero = chunk.indexOf('\0');
        if (zero >= 0) {
            bytes += chunk.left(zero);
            break;
        }
        bytes += chunk;
    }
    entries = Parse(bytes);
    return true;
}

bool Write(const QString& path, const QStringList& entries, QString& error) {
    return files::WriteFileReplacing(path, Format(entries), error);
}

} // namespace AddressListFile

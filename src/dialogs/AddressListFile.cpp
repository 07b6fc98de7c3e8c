#include "dialogs/AddressListFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace AddressListFile {

namespace {

QString shownName(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString openError(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot open file \"%1\". %2").arg(shownName(path), reason);
}

QString readError(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot read file \"%1\". %2").arg(shownName(path), reason);
}

QString createError(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot create file \"%1\". %2").arg(shownName(path), reason);
}

QString writeError(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot write file \"%1\". %2").arg(shownName(path), reason);
}

} // namespace

QStringList Parse(const QByteArray& bytes) {
    QStringList entries;
    const char* p = bytes.constData();
    const char* const end = p + bytes.size();
    while (p < end && *p != '\0') {
        const char* start = p;
        while (p < end && *p != '\0' && *p != '\r' && *p != '\n')
            ++p;
        entries << QString::fromLocal8Bit(start, p - start);
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
        out += entry.toLocal8Bit();
        out += "\r\n";
    }
    return out;
}

bool Read(const QString& path, QStringList& entries, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = openError(path, file.errorString());
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
                error = readError(path, file.errorString());
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
    QSaveFile file(path);
    // Never fall back to writing over the earlier file in place.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        error = createError(path, file.errorString());
        return false;
    }
    const QByteArray content = Format(entries);
    if (file.write(content) != content.size()) {
        error = writeError(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = writeError(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace AddressListFile

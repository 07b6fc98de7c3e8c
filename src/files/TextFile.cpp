#include "files/TextFile.h"

#include <QDir>
#include <QSaveFile>
#include <QStringDecoder>
#include <algorithm>

namespace files {

QString DecodeTextLine(QByteArrayView bytes) {
    // Plain ASCII reads the same either way.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; }))
        return QString::fromLatin1(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QByteArray EncodeTextLine(const QString& text) {
    return text.toUtf8();
}

namespace {

QString shownName(const QString& path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

QString FileOpenError(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot open file \"%1\". %2").arg(shownName(path), reason);
}

QString FileReadError(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot read file \"%1\". %2").arg(shownName(path), reason);
}

QString FileCreateError(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot create file \"%1\". %2").arg(shownName(path), reason);
}

QString FileWriteError(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot write file \"%1\". %2").arg(shownName(path), reason);
}

bool WriteFileReplacing(const QString& path, const QByteArray& content, QString& error) {
    QSaveFile file(path);
    // A folder the user may not write in leaves no room for a temporary
    // file; a file the user may write is then written in place.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        error = FileCreateError(path, file.errorString());
        return false;
    }
    if (file.write(content) != content.size()) {
        error = FileWriteError(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = FileWriteError(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace files

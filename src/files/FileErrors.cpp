#include "files/FileErrors.h"

#include <QDir>

namespace files {

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

QString OutOfMemoryReason() {
    return QStringLiteral("There is not enough memory to load it.");
}

} // namespace files

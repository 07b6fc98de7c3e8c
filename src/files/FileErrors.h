#pragma once

#include <QString>

namespace files {

// The messages of a failed file operation, each naming the file.
QString FileOpenError(const QString& path, const QString& reason);
QString FileReadError(const QString& path, const QString& reason);
QString FileCreateError(const QString& path, const QString& reason);
QString FileWriteError(const QString& path, const QString& reason);
// The reason given when memory ran out.
QString OutOfMemoryReason();

} // namespace files

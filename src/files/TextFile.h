#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The program's 8-bit text files (address lists, sessions) as Linux holds
// them: written as UTF-8, read as UTF-8 where a line is valid UTF-8 and as
// Latin-1 otherwise, so that files written elsewhere load without a
// character lost or two distinct lines becoming equal.
namespace files {

// One line of an 8-bit text file, without its line end.
QString DecodeTextLine(QByteArrayView bytes);
// The bytes of a line as this program writes them.
QByteArray EncodeTextLine(const QString& text);

// Replaces the file at path with content. The content goes to a temporary
// file in the same folder that is moved into place only when it is complete;
// on failure the earlier file is untouched, no temporary file is left behind
// and error holds a message that names the file. In a folder where the user
// may not create files, a file the user may write is written in place
// instead (a failure midway then leaves it incomplete).
bool WriteFileReplacing(const QString& path, const QByteArray& content, QString& error);

// The messages of a failed file operation, each naming the file.
QString FileOpenError(const QString& path, const QString& reason);
QString FileReadError(const QString& path, const QString& reason);
QString FileCreateError(const QString& path, const QString& reason);
QString FileWriteError(const QString& path, const QString& reason);

} // namespace files

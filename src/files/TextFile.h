#pragma once

#include "files/FileErrors.h"

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

// Replaces the regular file at path (symbolic links followed) with content,
// and reports success only when every byte is on the disk.
//
// The content goes to a temporary file in the same folder that takes the
// earlier file's owner, group and permission bits and is then moved into
// place; a new file gets the default permissions. Where that cannot keep
// them (the file belongs to someone else), the folder does not let the user
// create files, or the file has other hard links that must see the new
// content, the file is written in place instead: the space for the whole
// content is reserved before the first byte is written, so that a full disk
// leaves the earlier file exactly as it was. A file the user may not write
// is refused. On failure error names the file and the system's reason.
bool WriteFileReplacing(const QString& path, const QByteArray& content, QString& error);

} // namespace files

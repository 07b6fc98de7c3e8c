#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Address list files: plain 8-bit text (see files/TextFile.h), one entry
// per line. Reading accepts CR, LF and CR LF line ends and stops at a zero
// byte; writing ends every entry with CR LF and adds nothing else.
namespace AddressListFile {

// Splits file content into entries. Empty lines and duplicates are kept, a
// last line without a line end is an entry too, and a zero byte ends the text.
QStringList Parse(const QByteArray& bytes);

// The file content for the entries, in the given order.
QByteArray Format(const QStringList& entries);

// Reads the file at path into entries. On failure entries is left alone and
// error holds a message that names the file.
bool Read(const QString& path, QStringList& entries, QString& error);

// Replaces the file at path with the entries. The content goes to a
// temporary file in the same folder that is moved into place only when it
// is complete; on failure the earlier file is untouched, no temporary file
// is left behind and error holds a message that names the file.
bool Write(const QString& path, const QStringList& entries, QString& error);

} // namespace AddressListFile

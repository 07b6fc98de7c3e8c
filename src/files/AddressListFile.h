#pragma once

#include "files/FileReader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Address list files: plain 8-bit text (see files/TextFile.h), one entry
// per line. Reading accepts CR, LF and CR LF line ends, skips one UTF-8 byte
// order mark at the start and stops at a zero byte; writing ends every entry
// with CR LF and adds nothing else.
namespace AddressListFile {

// What one file may hold; a file with more is refused whole.
inline constexpr qsizetype MaxEntries = 1'000'000;

// Splits file content into entries. Empty lines and duplicates are kept, a
// last line without a line end is an entry too, and a zero byte ends the text.
QStringList Parse(const QByteArray& bytes);

// The file content for the entries, in the given order.
QByteArray Format(const QStringList& entries);

// Reads the file at path into entries, piece by piece (see
// files::ReadPieces), checking control between pieces. On anything but
// Done, entries is left alone; on Failed, error names the file and the
// reason.
files::LoadStatus Read(const QString& path, QStringList& entries, QString& error,
                       files::LoadControl* control = nullptr);

// Replaces the file at path with the entries (see files::WriteFileReplacing);
// on failure error names the file and the reason.
bool Write(const QString& path, const QStringList& entries, QString& error);

} // namespace AddressListFile

#include "platform/IniFile.h"

#include "platform/TextFile.h"

#include <QFile>
#include <QFileInfo>

namespace platform {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

QStringView trimmed(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

QString unquoted(QStringView value) {
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        return value.sliced(1, value.size() - 2).toString();
    return value.toString();
}

void appendLine(QByteArray& out, const QString& text) {
    QString line = text;
    line.replace(u'\r', u' ');
    line.replace(u'\n', u' ');
    out += EncodeTextLine(line);
    out += "\r\n";
}

} // namespace

IniFile IniFile::Parse(QByteArrayView bytes) {
    IniFile file;
    Section* current = nullptr;
    qsizetype pos = 0;
    const qsizetype size = bytes.size();
    while (pos < size) {
        qsizetype end = pos;
        while (end < size && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        const QString decoded = DecodeTextLine(bytes.sliced(pos, end - pos));
        pos = end;
        if (pos < size && bytes[pos] == '\r')
            ++pos;
        if (pos < size && bytes[pos] == '\n')
            ++pos;

        const QStringView line = trimmed(decoded);
        if (line.startsWith(u'[')) {
            const qsizetype close = line.lastIndexOf(u']');
            const QStringView name = close > 0 ? line.sliced(1, close - 1) : line.sliced(1);
            file.sections.append(Section{trimmed(name).toString(), {}});
            current = &file.sections.back();
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0 || current == nullptr)
            continue;
        current->entries.append(Entry{trimmed(line.first(equals)).toString(),
                                      unquoted(trimmed(line.sliced(equals + 1)))});
    }
    return file;
}

QByteArray IniFile::Format() const {
    QByteArray out;
    for (const Section& section : sections) {
        appendLine(out, u'[' + section.name + u']');
        for (const Entry& entry : section.entries)
            appendLine(out, entry.key + u'=' + entry.value);
    }
    return out;
}

bool IniFile::Read(const QString& path, IniFile& file, QString& error) {
    if (QFileInfo(path).isDir()) {
        error = FileOpenError(path, QStringLiteral("It is a folder."));
        return false;
    }
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        error = FileOpenError(path, in.errorString());
        return false;
    }
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        error = FileReadError(path, in.errorString());
        return false;
    }
    file = Parse(bytes);
    return true;
}

bool IniFile::Write(const QString& path, QString& error) const {
    return WriteFileReplacing(path, Format(), error);
}

} // namespace platform

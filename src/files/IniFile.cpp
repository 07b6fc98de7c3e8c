#include "files/IniFile.h"

#include "files/FileReader.h"
#include "files/TextFile.h"

#include <optional>

namespace files {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The structure of a line (brackets, "=", blanks, quotes) is all ASCII, which
// UTF-8 and Latin-1 share, so a line is split as bytes and only its parts are
// decoded; the line as a whole decides between UTF-8 and Latin-1.
QByteArrayView trimmed(QByteArrayView bytes) {
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && isBlank(bytes[begin]))
        ++begin;
    while (end > begin && isBlank(bytes[end - 1]))
        --end;
    return bytes.sliced(begin, end - begin);
}

QByteArrayView unquoted(QByteArrayView value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.sliced(1, value.size() - 2);
    return value;
}

bool isAscii(QByteArrayView bytes) {
    return QtPrivate::isAscii(QLatin1StringView(bytes.data(), bytes.size()));
}

// Whether a line is read as UTF-8 (else as Latin-1): the rule of the
// program's text files decides for the whole line.
bool isUtf8Line(QByteArrayView line) {
    return !isAscii(line) && DecodeTextLine(line) == QString::fromUtf8(line);
}

// Keys of the program's files are line numbers; the texts of the small ones
// are made once and shared, instead of once for every line of the file.
class KeyTexts {
public:
    // The shared text of a key written as a small number, or nothing.
    std::optional<QString> Find(QByteArrayView key) {
        if (key.isEmpty() || key.size() > 3 || (key.size() > 1 && key[0] == '0'))
            return std::nullopt;
        int n = 0;
        for (const char c : key) {
            if (c < '0' || c > '9')
                return std::nullopt;
            n = n * 10 + (c - '0');
        }
        while (texts.size() <= n)
            texts.append(QString::number(texts.size()));
        return texts[n];
    }

private:
    QStringList texts;
};

void appendText(QByteArray& out, QStringView text) {
    bool plain = true;
    for (const QChar c : text)
        if (c.unicode() >= 0x80 || c == u'\r' || c == u'\n') {
            plain = false;
            break;
        }
    if (plain) {
        const qsizetype at = out.size();
        out.resize(at + text.size());
        char* p = out.data() + at;
        for (const QChar c : text)
            *p++ = static_cast<char>(c.unicode());
        return;
    }
    QString line = text.toString();
    line.replace(u'\r', u' ');
    line.replace(u'\n', u' ');
    out += EncodeTextLine(line);
}

} // namespace

struct IniFile::Reader::State {
    explicit State(Sink& sink) : sink(sink) {}

    void Line(QByteArrayView raw) {
        const QByteArrayView line = trimmed(raw);
        if (line.startsWith('[')) {
            const qsizetype close = line.lastIndexOf(']');
            const QByteArrayView name = close > 0 ? line.sliced(1, close - 1) : line.sliced(1);
            sink.Section(Text(trimmed(name), isUtf8Line(raw)).ToString());
            inSection = true;
            return;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            return;
        const bool utf8 = isUtf8Line(raw);
        const Text key(trimmed(line.first(equals)), utf8);
        const Text value(unquoted(trimmed(line.sliced(equals + 1))), utf8);
        if (inSection)
            sink.Entry(key, value);
        else
            sink.HeadEntry(key, value);
    }

    Sink& sink;
    LineSplitter lines;
    bool inSection = false;
};

IniFile::Reader::Reader(Sink& sink) : d(std::make_unique<State>(sink)) {}

IniFile::Reader::~Reader() = default;

void IniFile::Reader::Feed(QByteArrayView piece) {
    d->lines.Feed(piece, [this](QByteArrayView line) { d->Line(line); });
}

void IniFile::Reader::Finish() {
    d->lines.Finish([this](QByteArrayView line) { d->Line(line); });
}

IniFile IniFile::Parse(QByteArrayView bytes) {
    struct Collect : Sink {
        IniFile file;
        KeyTexts keys;
        void Section(QString name) override { file.sections.append({std::move(name), {}}); }
        void Entry(const Text& key, const Text& value) override {
            std::optional<QString> shared = keys.Find(key.Bytes());
            file.sections.back().entries.append(
                {shared ? std::move(*shared) : key.ToString(), value.ToString()});
        }
        void HeadEntry(const Text& key, const Text& value) override {
            file.head.append({key.ToString(), value.ToString()});
        }
    } collect;
    Reader reader(collect);
    reader.Feed(bytes);
    reader.Finish();
    return std::move(collect.file);
}

QByteArray IniFile::Format() const {
    qsizetype size = 0;
    for (const Entry& entry : head)
        size += entry.key.size() + entry.value.size() + 3;
    for (const Section& section : sections) {
        size += section.name.size() + 4;
        for (const Entry& entry : section.entries)
            size += entry.key.size() + entry.value.size() + 3;
    }
    QByteArray out;
    out.reserve(size);
    for (const Entry& entry : head) {
        appendText(out, entry.key);
        out += '=';
        appendText(out, entry.value);
        out += "\r\n";
    }
    for (const Section& section : sections) {
        out += '[';
        appendText(out, section.name);
        out += "]\r\n";
        for (const Entry& entry : section.entries) {
            appendText(out, entry.key);
            out += '=';
            appendText(out, entry.value);
            out += "\r\n";
        }
    }
    return out;
}

bool IniFile::Write(const QString& path, QString& error) const {
    return WriteFileReplacing(path, Format(), error);
}

} // namespace files

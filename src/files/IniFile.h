#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <memory>

namespace files {

// An INI-structured text file held whole in memory: sections in file order,
// each with its entry lines in file order. Made for the program's own files,
// so nothing is escaped, sorted or merged behind the caller's back.
//
// Reading: a line whose first non-blank character is "[" starts a section
// named by the text up to the last "]" (to the line end when there is none);
// any other line holding "=" is an entry whose key is the text before the
// first "=" and whose value is the rest. Names, keys and values lose blanks
// and tabs around them, and a value enclosed in a pair of double or single
// quotes loses the quotes. Entries before the first section are the file's
// head: kept apart from the sections, and ignored by a sink that does not
// ask for them (as every reader did before there was a head). Every other
// line is ignored. Lines end with CR, LF or CR LF; each line is
// decoded on its own (UTF-8 where valid, Latin-1 otherwise). One UTF-8 byte
// order mark at the start of the file is skipped. Any bytes at all can be
// read; nothing is cut at any length.
class IniFile {
public:
    // A key or value as read, still bytes, with the way its line decodes;
    // made into text only where it is kept.
    class Text {
    public:
        Text(QByteArrayView bytes, bool utf8) : bytes(bytes), utf8(utf8) {}
        bool IsEmpty() const { return bytes.isEmpty(); }
        QByteArrayView Bytes() const { return bytes; }
        QString ToString() const {
            return utf8 ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
        }
        void AppendTo(QString& out) const {
            if (utf8)
                out.append(QString::fromUtf8(bytes));
            else
                out.append(QLatin1StringView(bytes.data(), bytes.size()));
        }

    private:
        QByteArrayView bytes;
        bool utf8;
    };

    // What a reader finds, line by line.
    class Sink {
    public:
        virtual ~Sink() = default;
        virtual void Section(QString name) = 0;
        // An entry line after the first section header.
        virtual void Entry(const Text& key, const Text& value) = 0;
        // An entry line before it; ignored unless a sink wants the head.
        virtual void HeadEntry(const Text& key, const Text& value) {
            (void)key;
            (void)value;
        }
    };

    // Reads a file piece by piece and reports its sections and entries to
    // the sink as their lines complete.
    class Reader {
    public:
        explicit Reader(Sink& sink);
        ~Reader();
        void Feed(QByteArrayView piece);
        // Reads a last line without a line end.
        void Finish();

    private:
        struct State;
        std::unique_ptr<State> d;
    };

    struct Entry {
        QString key;
        QString value;
        bool operator==(const Entry&) const = default;
    };
    struct Section {
        QString name;
        QList<Entry> entries;
        bool operator==(const Section&) const = default;
    };

    QList<Entry> head; // the entries before the first section
    QList<Section> sections;

    static IniFile Parse(QByteArrayView bytes);
    // The file's bytes: the head's "key=value" lines, then "[name]" and
    // "key=value" lines, each ending with CR LF, nothing else. Line breaks inside a text become
    // blanks, so that no text can start a line of its own.
    QByteArray Format() const;

    // Replaces the file at path atomically; on failure the earlier file is
    // untouched and error names the file.
    bool Write(const QString& path, QString& error) const;
};

} // namespace files

#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <cstring>
#include <functional>

// Reading the program's files safely: only regular files, never more than a
// fixed number of bytes, in pieces, on any thread, with a way to stop.
namespace files {

// No file larger than this is read.
inline constexpr qint64 MaxFileSize = qint64(1) << 30;

// Shared between a load on a worker thread and the window that waits for it.
struct LoadControl {
    // Set by the window; the load stops at its next piece.
    std::atomic<bool> cancel{false};
    // How far the load has come, from 0 to 1000.
    std::atomic<int> permille{0};
};

enum class LoadStatus { Done, Failed, Cancelled };

// Opens path without waiting (a FIFO without a writer cannot block it),
// refuses anything but a regular file and a file larger than limit, and
// hands the content to take in pieces of at most a few MiB, stopping when
// take returns false. Reading stops at limit bytes even when the file grows
// meanwhile. control (may be null) is checked between pieces. On failure
// error names the file and the reason.
LoadStatus ReadPieces(const QString& path, LoadControl* control,
                      const std::function<bool(QByteArrayView)>& take, QString& error,
                      qint64 limit = MaxFileSize);

// Splits text into lines at CR, LF and CR LF, also when a line end or a line
// is cut between two pieces. One UTF-8 byte order mark at the very start of
// the text is dropped.
class LineSplitter {
public:
    // Calls line(bytes) for every line that this piece completes.
    template <class Line> void Feed(QByteArrayView piece, Line&& line) {
        qsizetype pos = 0;
        const qsizetype size = piece.size();
        if (afterCr && size > 0) {
            afterCr = false;
            if (piece[0] == '\n')
                pos = 1;
        }
        while (pos < size) {
            const qsizetype end = LineEnd(piece, pos);
            if (end == size) {
                partial.append(piece.sliced(pos));
                return;
            }
            if (partial.isEmpty()) {
                line(firstLine(piece.sliced(pos, end - pos)));
            } else {
                partial.append(piece.sliced(pos, end - pos));
                line(firstLine(partial));
                partial.clear();
            }
            pos = end + 1;
            if (piece[end] == '\r') {
                if (pos == size)
                    afterCr = true;
                else if (piece[pos] == '\n')
                    ++pos;
            }
        }
    }
    // Calls line for a last line without a line end, if there is one.
    template <class Line> void Finish(Line&& line) {
        if (!partial.isEmpty())
            line(firstLine(partial));
        partial = QByteArray();
    }

private:
    // Where the line that starts at pos ends: its CR or LF, or the end.
    static qsizetype LineEnd(QByteArrayView piece, qsizetype pos) {
        const char* const start = piece.data() + pos;
        const qsizetype rest = piece.size() - pos;
        const void* lf = std::memchr(start, '\n', size_t(rest));
        const qsizetype length = lf ? static_cast<const char*>(lf) - start : rest;
        const void* cr = std::memchr(start, '\r', size_t(length));
        return pos + (cr ? static_cast<const char*>(cr) - start : length);
    }

    QByteArrayView firstLine(QByteArrayView bytes) {
        if (started)
            return bytes;
        started = true;
        return bytes.startsWith("\xEF\xBB\xBF") ? bytes.sliced(3) : bytes;
    }

    QByteArray partial;
    bool afterCr = false;
    bool started = false;
};

// The operating system's own text for an error number.
QString OsReason(int error);

// Test hook: called on the reading thread after every piece.
void SetAfterPieceHook(std::function<void(LoadControl&)> hook);

} // namespace files

#include "files/FileReader.h"

#include "files/FileErrors.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

std::function<void(LoadControl&)> afterPiece;

constexpr qint64 pieceSize = qint64(1) << 20;

QString sizeText(qint64 bytes) {
    if (bytes % (qint64(1) << 30) == 0)
        return QStringLiteral("%1 GiB").arg(bytes >> 30);
    if (bytes % (qint64(1) << 20) == 0)
        return QStringLiteral("%1 MiB").arg(bytes >> 20);
    return QStringLiteral("%1 bytes").arg(bytes);
}

QString kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe (FIFO)");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("a special file");
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd;
};

} // namespace

QString OsReason(int error) {
    char buffer[256];
    return QString::fromLocal8Bit(::strerror_r(error, buffer, sizeof buffer));
}

void SetAfterPieceHook(std::function<void(LoadControl&)> hook) {
    afterPiece = std::move(hook);
}

LoadStatus ReadPieces(const QString& path, LoadControl* control,
                      const std::function<bool(QByteArrayView)>& take, QString& error,
                      qint64 limit) {
    const QByteArray name = QFile::encodeName(path);
    const auto notRegular = [&](mode_t mode) {
        error = FileOpenError(
            path, QStringLiteral("It is %1, which is not a regular file.").arg(kindOf(mode)));
        return LoadStatus::Failed;
    };
    // Looked at before it is opened (a socket cannot be opened at all), and
    // again after, in case it was swapped in between.
    struct stat status {};
    if (::stat(name.constData(), &status) == 0 && !S_ISREG(status.st_mode))
        return notRegular(status.st_mode);
    // O_NONBLOCK: opening a FIFO that has no writer returns at once instead
    // of waiting for one; a regular file reads the same either way.
    const Descriptor file(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.fd < 0 || ::fstat(file.fd, &status) != 0) {
        error = FileOpenError(path, OsReason(errno));
        return LoadStatus::Failed;
    }
    if (!S_ISREG(status.st_mode))
        return notRegular(status.st_mode);
    const QString tooLarge =
        QStringLiteral("It is larger than %1, more than this program reads.").arg(sizeText(limit));
    if (status.st_size > limit) {
        error = FileReadError(path, tooLarge);
        return LoadStatus::Failed;
    }
    const qint64 expected = std::max<qint64>(status.st_size, 1);
    QByteArray buffer(pieceSize, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        if (control && control->cancel.load())
            return LoadStatus::Cancelled;
        const ssize_t got = ::read(file.fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = FileReadError(path, OsReason(errno));
            return LoadStatus::Failed;
        }
        if (got == 0)
            break;
        total += got;
        if (total > limit) {
            // The file grew while it was read.
            error = FileReadError(path, tooLarge);
            return LoadStatus::Failed;
        }
        if (!take(QByteArrayView(buffer.constData(), got)))
            break;
        if (control) {
            control->permille.store(int(std::min<qint64>(1000, total * 1000 / expected)));
            if (afterPiece)
                afterPiece(*control);
        }
    }
    return control && control->cancel.load() ? LoadStatus::Cancelled : LoadStatus::Done;
}

} // namespace files

#include "files/TextFile.h"

#include "files/FileReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace files {

QString DecodeTextLine(QByteArrayView bytes) {
    // Plain ASCII reads the same either way.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; }))
        return QString::fromLatin1(bytes);
    // A byte order mark inside a file is a character like any other; the
    // readers drop the one at the very start of a file themselves.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QByteArray EncodeTextLine(const QString& text) {
    return text.toUtf8();
}

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    // The result of close(), which may report a failed write late.
    int Close() {
        const int result = fd >= 0 ? ::close(fd) : 0;
        fd = -1;
        return result;
    }
    int fd;
};

// Writes all of content at the start of the open file; errno on failure.
bool writeAll(int fd, const QByteArray& content) {
    qint64 done = 0;
    while (done < content.size()) {
        const ssize_t n = ::pwrite(fd, content.constData() + done, content.size() - done, done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += n;
    }
    return true;
}

mode_t defaultMode() {
    // The process's umask, read without changing it (umask() would, for
    // every thread at once).
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return 0666 & ~mask;
            }
    }
    return 0644;
}

// Reserves the blocks for size bytes of the open file without changing its
// length; where the file system cannot reserve, checks that the free space
// suffices. errno on failure.
bool reserve(int fd, qint64 size) {
    if (size == 0)
        return true;
    if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) == 0)
        return true;
    if (errno != EOPNOTSUPP && errno != ENOSYS)
        return false;
    struct stat file {};
    struct statvfs volume {};
    if (::fstat(fd, &file) != 0 || ::fstatvfs(fd, &volume) != 0)
        return false;
    const qint64 block = std::max<qint64>(volume.f_frsize, 512);
    const qint64 held = qint64(file.st_blocks) * 512;
    const qint64 needed = (size + block - 1) / block * block - held;
    if (needed > 0 && qint64(volume.f_bavail) * qint64(volume.f_frsize) < needed) {
        errno = ENOSPC;
        return false;
    }
    return true;
}

// Writes content over the file itself: reserve, write, cut to length, sync.
bool writeInPlace(const QString& path, const QByteArray& target, const QByteArray& content,
                  QString& error) {
    Descriptor file(::open(target.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.fd < 0 || !reserve(file.fd, content.size())) {
        error = FileWriteError(path, OsReason(errno));
        return false;
    }
    // From here on a failure may leave the file cut short, and says so.
    if (!writeAll(file.fd, content) || ::ftruncate(file.fd, content.size()) != 0 ||
        ::fsync(file.fd) != 0 || file.Close() != 0) {
        error = FileWriteError(path, OsReason(errno) +
                                         QStringLiteral(". The file may now be incomplete."));
        return false;
    }
    return true;
}

void syncFolder(const QByteArray& folder) {
    const Descriptor dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd >= 0)
        (void)::fsync(dir.fd);
}

} // namespace

bool WriteFileReplacing(const QString& path, const QByteArray& content, QString& error) {
    const QByteArray name = QFile::encodeName(path);
    QByteArray target = name;
    struct stat earlier {};
    bool exists = ::stat(name.constData(), &earlier) == 0;
    if (!exists && errno != ENOENT) {
        error = FileCreateError(path, OsReason(errno));
        return false;
    }
    if (exists) {
        // A symbolic link stays, and the file it names gets the content.
        if (char* resolved = ::realpath(name.constData(), nullptr)) {
            target = resolved;
            ::free(resolved);
        }
        if (S_ISDIR(earlier.st_mode)) {
            error = FileCreateError(path, OsReason(EISDIR));
            return false;
        }
        if (!S_ISREG(earlier.st_mode)) {
            error = FileCreateError(path, QStringLiteral("It is not a regular file."));
            return false;
        }
        if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0) {
            error = FileWriteError(path, OsReason(errno));
            return false;
        }
        // Other names of the file must see the new content too.
        if (earlier.st_nlink > 1)
            return writeInPlace(path, target, content, error);
    } else {
        struct stat link {};
        if (::lstat(name.constData(), &link) == 0 && S_ISLNK(link.st_mode))
            target = QFile::encodeName(QFileInfo(path).symLinkTarget());
    }

    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0    ? QByteArray(".")
                              : slash == 0 ? QByteArray("/")
                                           : target.left(slash);
    QByteArray temporary = (slash < 0 ? QByteArray() : target.left(slash + 1)) + '.' +
                           target.mid(slash + 1).left(200) + ".XXXXXX";
    Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.fd < 0) {
        if (exists)
            return writeInPlace(path, target, content, error);
        error = FileCreateError(path, OsReason(errno));
        return false;
    }
    // The replacement takes the place of the earlier file with its owner,
    // group and permission bits; where the owner cannot be given, the file
    // is written in place instead.
    if (exists ? ::fchown(file.fd, earlier.st_uid, earlier.st_gid) != 0 ||
                     ::fchmod(file.fd, earlier.st_mode & 07777) != 0
               : ::fchmod(file.fd, defaultMode()) != 0) {
        const int reason = errno;
        file.Close();
        ::unlink(temporary.constData());
        if (exists)
            return writeInPlace(path, target, content, error);
        error = FileCreateError(path, OsReason(reason));
        return false;
    }
    if (!writeAll(file.fd, content) || ::fsync(file.fd) != 0 || file.Close() != 0 ||
        ::rename(temporary.constData(), target.constData()) != 0) {
        error = FileWriteError(path, OsReason(errno));
        file.Close();
        ::unlink(temporary.constData());
        return false;
    }
    syncFolder(folder);
    return true;
}

} // namespace files

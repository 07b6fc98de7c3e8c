#pragma once

#include "files/FileReader.h"

#include <QFile>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace netsonde::test {

// Files that a load must refuse at once, each with words its error message
// must hold: a FIFO without a writer (opening it for reading would wait for
// ever) and one with a writer that never stops, a character device that
// never ends (by its own name and through a link), a socket, folders, and
// a sparse file over the size limit.
class HostileFiles {
public:
    struct Case {
        QString path;
        QString reason;
    };

    HostileFiles() {
        const QString notRegular = QStringLiteral("is not a regular file");
        const QString idle = dir.filePath("idle.pipe");
        const QString fed = dir.filePath("fed.pipe");
        EXPECT_EQ(::mkfifo(QFile::encodeName(idle).constData(), 0600), 0);
        EXPECT_EQ(::mkfifo(QFile::encodeName(fed).constData(), 0600), 0);
        writer = ::open(QFile::encodeName(fed).constData(), O_RDWR | O_NONBLOCK);
        const QByteArray yes = QByteArray("y\n").repeated(2048);
        EXPECT_GT(::write(writer, yes.constData(), yes.size()), 0);

        const QString socketPath = dir.filePath("s.sock");
        sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(socketPath);
        EXPECT_LT(size_t(name.size()), sizeof address.sun_path);
        std::memcpy(address.sun_path, name.constData(),
                    std::min(size_t(name.size()), sizeof address.sun_path - 1));
        EXPECT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

        // The device also through a link, as a user reaches it from a file
        // dialog.
        const QString zero = dir.filePath("zero.dev");
        EXPECT_EQ(::symlink("/dev/zero", QFile::encodeName(zero).constData()), 0);
        const QString folder = dir.filePath("folder.d");
        EXPECT_EQ(::mkdir(QFile::encodeName(folder).constData(), 0755), 0);

        const QString huge = dir.filePath("huge.bin");
        QFile file(huge);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[a]\r\n");
        file.close();
        // Sparse: no disk space is taken, and nothing of it may be read.
        EXPECT_EQ(::truncate(QFile::encodeName(huge).constData(), files::MaxFileSize + 1), 0);

        // Names typed without an extension that exist as they are: the
        // dialog takes them as typed, not with the default extension added.
        const QString bareFolder = dir.filePath("folder");
        EXPECT_EQ(::mkdir(QFile::encodeName(bareFolder).constData(), 0755), 0);

        cases = {{idle, notRegular},       {fed, notRegular},
                 {zero, notRegular},       {QStringLiteral("/dev/zero"), notRegular},
                 {socketPath, notRegular}, {folder, notRegular},
                 {bareFolder, notRegular}, {huge, QStringLiteral("larger than 1 GiB")}};
    }
    ~HostileFiles() {
        ::close(writer);
        ::close(sock);
    }
    HostileFiles(const HostileFiles&) = delete;
    HostileFiles& operator=(const HostileFiles&) = delete;

    QList<Case> cases;

private:
    QTemporaryDir dir;
    int writer = -1;
    int sock = -1;
};

} // namespace netsonde::test

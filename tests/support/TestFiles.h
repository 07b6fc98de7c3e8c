#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <gtest/gtest.h>
#include <unistd.h>

namespace netsonde::test {

// The bytes of a file, or a marker that no real content equals.
inline QByteArray ContentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

inline void PutContent(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Runs as the unprivileged user and group 65534 for its lifetime when the
// tests run as root, so that permissions and ownership apply; elsewhere the
// tests run unprivileged already.
class AsUnprivilegedUser {
public:
    AsUnprivilegedUser() : root(::geteuid() == 0) {
        if (root)
            switched = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
    }
    ~AsUnprivilegedUser() {
        if (root) {
            (void)::seteuid(0);
            (void)::setegid(0);
        }
    }
    AsUnprivilegedUser(const AsUnprivilegedUser&) = delete;
    AsUnprivilegedUser& operator=(const AsUnprivilegedUser&) = delete;
    bool Ready() const { return !root || switched; }

private:
    bool root;
    bool switched = false;
};

} // namespace netsonde::test

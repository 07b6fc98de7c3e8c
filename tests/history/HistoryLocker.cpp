// Holds the write lock of a SQLite file from a process of its own, as
// another program in the middle of a long transaction does, until its
// standard input closes.
//   history_locker <file>
// Prints "locked" once it holds the lock.
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    int rc = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        db.setDatabaseName(QString::fromLocal8Bit(argv[1]));
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        QSqlQuery q(db);
        if (!db.open() || !q.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
            std::fprintf(stderr, "cannot lock: %s\n", qPrintable(q.lastError().text()));
            rc = 1;
        } else {
            std::puts("locked");
            std::fflush(stdout);
            char buffer[256];
            while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
            }
            q.exec(QStringLiteral("ROLLBACK"));
        }
    }
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    return rc;
}

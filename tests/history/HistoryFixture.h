#pragma once

#include "history/RunRecord.h"
#include "history/THistoryStore.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>
#include <functional>

namespace netsonde::test {

// A run record with the fields most tests vary.
inline history::RunRecord MakeRun(const QString& entry, qint64 timeMs, history::Outcome outcome,
                                  int rtt = 5, history::Command kind = history::Command::CheckOne) {
    history::RunRecord r;
    r.TimeMs = timeMs;
    r.Entry = entry;
    r.Address = entry;
    r.Kind = kind;
    r.Sent = 1;
    r.Result = outcome;
    if (outcome == history::Outcome::Answered) {
        r.Received = 1;
        r.MinRtt = r.AvgRtt = r.MaxRtt = rtt;
        r.Echoes = {{0, rtt, 0, {}}};
    } else {
        r.Code = 11010;
        r.Echoes = {{11010, -1, 0, {}}};
    }
    return r;
}

// Runs one query on a connection of its own and hands over each row.
inline void ForEachRow(const QString& path, const QString& sql,
                       const std::function<void(const QSqlQuery&)>& row) {
    const QString name = QStringLiteral("test-reader");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.exec(sql);
        while (q.next())
            row(q);
    }
    QSqlDatabase::removeDatabase(name);
}

inline qint64 Count(const QString& path, const QString& sql) {
    qint64 n = -1;
    ForEachRow(path, sql, [&](const QSqlQuery& q) { n = q.value(0).toLongLong(); });
    return n;
}

} // namespace netsonde::test

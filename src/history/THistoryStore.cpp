#include "history/THistoryStore.h"

#include "history/PathRecords.h"
#include "history/TSqlThread.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QPointer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QVariant>
#include <QVector>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <utility>

namespace history {

namespace {

// Rows wait this long for company before they are committed.
constexpr int CommitDelayMs = 200;
// A writer that finds the file locked by another process waits this long
// inside SQLite; when the lock is still held, the rows stay queued and are
// tried again a while later. The waits are short so that the worker soon
// gets to whatever comes next, its end among them.
constexpr int BusyTimeoutMs = 100;
constexpr int BusyRetryDelayMs = 500;
// The last attempt, as the store goes, waits only this long.
constexpr int ClosingBusyTimeoutMs = 50;

// SQLite's primary result codes that matter here.
enum SqliteCode { Busy = 5, Locked = 6, ReadOnly = 8, Corrupt = 11, NotADatabase = 26 };

int PrimaryCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xFF) : -1;
}

bool IsBusy(const QSqlError& error) {
    const int code = PrimaryCode(error);
    return code == Busy || code == Locked;
}

bool IsDamaged(const QSqlError& error) {
    const int code = PrimaryCode(error);
    return code == Corrupt || code == NotADatabase;
}

QString Reason(const QSqlError& error) {
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown error") : text;
}

// Each step takes the schema from the version before it to its own.
struct Migration {
    int version;
    const char* const* statements;
};

const char* const schemaV1[] = {
    // Entry texts and addresses, stored once and referred to by number.
    "CREATE TABLE names (id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE)",
    "CREATE TABLE runs ("
    " id INTEGER PRIMARY KEY,"
    " t INTEGER NOT NULL,"
    " entry INTEGER NOT NULL,"
    " address INTEGER,"
    " command INTEGER NOT NULL,"
    " automatic INTEGER NOT NULL,"
    " sent INTEGER NOT NULL,"
    " received INTEGER NOT NULL,"
    " rtt_min INTEGER, rtt_avg INTEGER, rtt_max INTEGER,"
    " outcome INTEGER NOT NULL,"
    " code INTEGER NOT NULL,"
    " message TEXT,"
    " echoes TEXT)",
    "CREATE INDEX runs_entry_t ON runs (entry, t)",
    // One row per entry and minute: what the graph of a long span reads.
    "CREATE TABLE minutes ("
    " entry INTEGER NOT NULL,"
    " minute INTEGER NOT NULL,"
    " runs INTEGER NOT NULL,"
    " judged INTEGER NOT NULL,"
    " answered INTEGER NOT NULL,"
    " sent INTEGER NOT NULL,"
    " received INTEGER NOT NULL,"
    " rtt_min INTEGER, rtt_max INTEGER,"
    " PRIMARY KEY (entry, minute)) WITHOUT ROWID",
    // The times an entry stopped answering, and when it answered again
    // (stop is empty while it still does not).
    "CREATE TABLE outages ("
    " id INTEGER PRIMARY KEY,"
    " entry INTEGER NOT NULL,"
    " start INTEGER NOT NULL,"
    " stop INTEGER,"
    " outcome INTEGER NOT NULL,"
    " code INTEGER NOT NULL)",
    "CREATE INDEX outages_entry ON outages (entry, start)", nullptr};

const char* const schemaV2[] = {
    // Jitter: the sum of the differences between the round-trip times of
    // consecutive answering runs, counted with the later run's minute.
    "ALTER TABLE minutes ADD COLUMN jitter_sum INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE minutes ADD COLUMN jitter_n INTEGER NOT NULL DEFAULT 0",
    "WITH p AS (SELECT entry, t, rtt_avg AS r,"
    " lag(rtt_avg) OVER (PARTITION BY entry ORDER BY t, id) AS prev"
    " FROM runs WHERE rtt_avg IS NOT NULL),"
    " s AS (SELECT entry, t / 60000 AS m, sum(abs(r - prev)) AS js, count(prev) AS jn"
    " FROM p WHERE prev IS NOT NULL GROUP BY entry, m)"
    " UPDATE minutes SET jitter_sum = s.js, jitter_n = s.jn FROM s"
    " WHERE minutes.entry = s.entry AND minutes.minute = s.m",
    // How many answering runs of each hour had each round-trip time: the
    // median and percentiles of long spans come from here.
    "CREATE TABLE rtt_hours ("
    " entry INTEGER NOT NULL,"
    " hour INTEGER NOT NULL,"
    " rtt INTEGER NOT NULL,"
    " n INTEGER NOT NULL,"
    " PRIMARY KEY (entry, hour, rtt)) WITHOUT ROWID",
    "INSERT INTO rtt_hours (entry, hour, rtt, n) SELECT entry, t / 3600000, rtt_avg, count(*)"
    " FROM runs WHERE rtt_avg IS NOT NULL GROUP BY entry, t / 3600000, rtt_avg",
    // The changes of a host's state (up, degraded, down) as the watch saw them.
    "CREATE TABLE states ("
    " id INTEGER PRIMARY KEY,"
    " entry INTEGER NOT NULL,"
    " t INTEGER NOT NULL,"
    " state INTEGER NOT NULL)",
    "CREATE INDEX states_entry_t ON states (entry, t)", nullptr};

const char* const schemaV3[] = {
    // Watched paths: one row per entry, target address and minute, every
    // hop and responder of the minute packed into one blob (PackMinute).
    "CREATE TABLE path_minutes ("
    " entry INTEGER NOT NULL,"
    " minute INTEGER NOT NULL,"
    " target INTEGER NOT NULL,"
    " hops BLOB NOT NULL,"
    " PRIMARY KEY (entry, minute, target)) WITHOUT ROWID",
    // The changes of a watched path's route, the routes packed (PackRoute).
    "CREATE TABLE path_routes ("
    " id INTEGER PRIMARY KEY,"
    " entry INTEGER NOT NULL,"
    " target INTEGER NOT NULL,"
    " t INTEGER NOT NULL,"
    " kind INTEGER NOT NULL,"
    " before BLOB NOT NULL,"
    " after BLOB NOT NULL)",
    "CREATE INDEX path_routes_entry_t ON path_routes (entry, t)", nullptr};

const Migration migrations[] = {{1, schemaV1}, {2, schemaV2}, {3, schemaV3}};

constexpr qint64 MinuteMs = 60000;

// One minute of a watched path, or one change of its route, waiting to be
// written.
struct PathMinute {
    QString entry;
    QString target;
    QList<paths::MinuteSummary> records;
};

struct PathRouteChange {
    QString entry;
    QString target;
    paths::RouteChange change;
};

} // namespace

// Everything the worker thread keeps. Touched only on that thread.
struct THistoryStore::Worker {
    QString path;
    QString connection;
    std::shared_ptr<std::atomic<bool>> enabled;
    std::shared_ptr<std::atomic<qint64>> committed;
    // The store, as the worker reaches it: the store clears it under the
    // lock as it goes, so nothing is posted to a store being destroyed.
    struct OwnerLink {
        QMutex lock;
        QPointer<THistoryStore> store;
    };
    std::shared_ptr<OwnerLink> owner = std::make_shared<OwnerLink>();
    QVector<RunRecord> pending;
    QVector<StateRecord> pendingStates;
    QVector<PathMinute> pendingMinutes;
    QVector<PathRouteChange> pendingRoutes;
    // The round-trip time of each entry's last answering run, for jitter;
    // read from the file at an entry's first run.
    QHash<qint64, int> lastRtt;
    QTimer* timer = nullptr;
    QHash<QString, qint64> nameIds;
    std::map<const char*, std::unique_ptr<QSqlQuery>> statements;
    bool open = false;
    bool closing = false;

    QSqlDatabase Db() const { return QSqlDatabase::database(connection, false); }

    // Turns the history off and tells the owner why, once.
    void Fail(const QString& message) {
        if (!enabled->exchange(false))
            return;
        open = false;
        ClearPending();
        statements.clear();
        {
            QSqlDatabase db = Db();
            if (db.isValid())
                db.close();
        }
        Tell([message](THistoryStore* store) { emit store->Failed(message); });
    }

    // Runs fn with the store on the store's own thread, if it still exists.
    void Tell(std::function<void(THistoryStore*)> fn) {
        QMutexLocker locker(&owner->lock);
        const QPointer<THistoryStore> target = owner->store;
        if (target)
            QMetaObject::invokeMethod(
                target.data(),
                [target, fn] {
                    if (target)
                        fn(target.data());
                },
                Qt::QueuedConnection);
    }

    void FailUnusable(const QString& reason) {
        Fail(QStringLiteral("The history file %1 cannot be used: %2. The history of runs is off "
                            "until Netsonde starts again.")
                 .arg(QDir::toNativeSeparators(path), reason));
    }

    // Closes the file, moves it (and its log) aside under a dated name and
    // turns the history off.
    void FailDamaged(const QString& reason) {
        statements.clear();
        {
            QSqlDatabase db = Db();
            if (db.isValid())
                db.close();
        }
        const QString aside =
            path + QStringLiteral(".broken-") +
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        QString where;
        if (QFile::rename(path, aside)) {
            for (const char* suffix : {"-wal", "-shm"}) {
                const QString side = path + QLatin1String(suffix);
                if (QFile::exists(side))
                    QFile::rename(side, aside + QLatin1String(suffix));
            }
            where =
                QStringLiteral("it was moved to %1, and a new one will be made at the next start")
                    .arg(QDir::toNativeSeparators(aside));
        } else {
            where = QStringLiteral("it could not be moved aside and stays where it is");
        }
        Fail(QStringLiteral("The history file %1 is damaged (%2); %3. The history of runs is off "
                            "until Netsonde starts again.")
                 .arg(QDir::toNativeSeparators(path), reason, where));
    }

    void FailWith(const QSqlError& error) {
        if (IsDamaged(error))
            FailDamaged(Reason(error));
        else
            FailUnusable(Reason(error));
    }

    // Runs one statement; false (with the error in *error) when it fails.
    static bool Exec(QSqlQuery& q, const QString& sql, QSqlError* error) {
        if (q.exec(sql))
            return true;
        *error = q.lastError();
        return false;
    }

    // Takes the write lock, waiting a while for other writers.
    bool Begin(QSqlError* error) {
        QSqlQuery q(Db());
        if (q.exec(QStringLiteral("BEGIN IMMEDIATE")))
            return true;
        *error = q.lastError();
        return false;
    }

    void Rollback() {
        QSqlQuery q(Db());
        q.exec(QStringLiteral("ROLLBACK"));
    }

    // What opening the file came to.
    enum class Step { Done, Later, Failed };

    void Open() {
        const QFileInfo info(path);
        if (!QDir().mkpath(info.absolutePath())) {
            FailUnusable(QStringLiteral("its folder cannot be made"));
            return;
        }
        if (info.exists() && !info.isFile()) {
            FailUnusable(QStringLiteral("it is not a file"));
            return;
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
        if (!db.open()) {
            FailWith(db.lastError());
            return;
        }
        QSqlQuery q(db);
        QSqlError error;
        // The first read finds out whether this is a database at all.
        if (!Exec(q, QStringLiteral("PRAGMA quick_check(1)"), &error)) {
            FailWith(error);
            return;
        }
        if (q.next() && q.value(0).toString() != QLatin1String("ok")) {
            FailDamaged(q.value(0).toString());
            return;
        }
        q.finish();
        if (!Exec(q, QStringLiteral("PRAGMA journal_mode=WAL"), &error)) {
            FailWith(error);
            return;
        }
        q.finish();
        Exec(q, QStringLiteral("PRAGMA synchronous=NORMAL"), &error);
        Ready();
    }

    // Brings the schema up to date and starts writing; while another
    // process holds the file, tries again a while later.
    void Ready() {
        switch (Migrate()) {
        case Step::Failed:
            return;
        case Step::Later:
            Timer()->start(BusyRetryDelayMs);
            return;
        case Step::Done:
            break;
        }
        open = true;
        Prune();
        if (HasPending())
            Timer()->start(CommitDelayMs);
    }

    bool HasPending() const {
        return !pending.isEmpty() || !pendingStates.isEmpty() || !pendingMinutes.isEmpty() ||
               !pendingRoutes.isEmpty();
    }

    void ClearPending() {
        pending.clear();
        pendingStates.clear();
        pendingMinutes.clear();
        pendingRoutes.clear();
    }

    // The schema version the file says it has; -1 when it cannot be read.
    int Version(QSqlError* error) {
        QSqlQuery q(Db());
        if (!Exec(q, QStringLiteral("PRAGMA user_version"), error) || !q.next())
            return -1;
        return q.value(0).toInt();
    }

    Step Migrate() {
        QSqlError error;
        // A file of this version needs no writing (and no write lock).
        const int current = Version(&error);
        if (current == SchemaVersion)
            return Step::Done;
        if (current < 0) {
            if (IsBusy(error))
                return Step::Later;
            FailWith(error);
            return Step::Failed;
        }
        if (!Begin(&error)) {
            if (IsBusy(error))
                return Step::Later;
            FailWith(error);
            return Step::Failed;
        }
        // Read again under the lock: another process may have migrated.
        const int version = Version(&error);
        if (version < 0) {
            Rollback();
            FailWith(error);
            return Step::Failed;
        }
        QSqlQuery q(Db());
        if (version > SchemaVersion) {
            Rollback();
            Fail(QStringLiteral("The history file %1 was written by a newer version of Netsonde "
                                "(format %2). The history of runs is off until Netsonde starts "
                                "again.")
                     .arg(QDir::toNativeSeparators(path))
                     .arg(version));
            return Step::Failed;
        }
        for (const Migration& step : migrations) {
            if (step.version <= version)
                continue;
            for (const char* const* sql = step.statements; *sql; ++sql)
                if (!Exec(q, QString::fromLatin1(*sql), &error)) {
                    Rollback();
                    FailWith(error);
                    return Step::Failed;
                }
        }
        if (version != SchemaVersion &&
            !Exec(q, QStringLiteral("PRAGMA user_version=%1").arg(SchemaVersion), &error)) {
            Rollback();
            FailWith(error);
            return Step::Failed;
        }
        if (!Exec(q, QStringLiteral("COMMIT"), &error)) {
            Rollback();
            FailWith(error);
            return Step::Failed;
        }
        return Step::Done;
    }

    void Prune() {
        const qint64 cutoff =
            QDateTime::currentMSecsSinceEpoch() - qint64{RetentionDays} * 86400000;
        QSqlError error;
        if (!Begin(&error)) {
            // Another writer holds the file: the old runs go next time.
            if (!IsBusy(error))
                FailWith(error);
            return;
        }
        QSqlQuery q(Db());
        const bool ok =
            Exec(q, QStringLiteral("DELETE FROM runs WHERE t < %1").arg(cutoff), &error) &&
            Exec(q, QStringLiteral("DELETE FROM minutes WHERE minute < %1").arg(cutoff / 60000),
                 &error) &&
            Exec(q,
                 QStringLiteral("DELETE FROM outages WHERE stop IS NOT NULL AND stop < %1")
                     .arg(cutoff),
                 &error) &&
            Exec(q, QStringLiteral("DELETE FROM rtt_hours WHERE hour < %1").arg(cutoff / 3600000),
                 &error) &&
            Exec(q, QStringLiteral("DELETE FROM states WHERE t < %1").arg(cutoff), &error) &&
            Exec(
                q,
                QStringLiteral("DELETE FROM path_minutes WHERE minute < %1").arg(cutoff / MinuteMs),
                &error) &&
            Exec(q, QStringLiteral("DELETE FROM path_routes WHERE t < %1").arg(cutoff), &error) &&
            Exec(q, QStringLiteral("COMMIT"), &error);
        if (!ok) {
            Rollback();
            FailWith(error);
        }
    }

    // The one timer of the worker: commits what is queued, or tries the
    // opening again. Made on first use, so it lives on the worker thread.
    QTimer* Timer() {
        if (!timer) {
            timer = new QTimer;
            timer->setSingleShot(true);
            QObject::connect(timer, &QTimer::timeout, timer, [this] { Due(); });
        }
        return timer;
    }

    void Due() {
        if (!*enabled || closing)
            return;
        if (open)
            Commit();
        else
            Ready();
    }

    void Add(const RunRecord& run) {
        if (!*enabled)
            return;
        pending.append(run);
        if (!Timer()->isActive())
            timer->start(CommitDelayMs);
    }

    void AddState(const StateRecord& change) {
        if (!*enabled)
            return;
        pendingStates.append(change);
        if (!Timer()->isActive())
            timer->start(CommitDelayMs);
    }

    void AddPathMinute(PathMinute minute) {
        if (!*enabled)
            return;
        pendingMinutes.append(std::move(minute));
        if (!Timer()->isActive())
            timer->start(CommitDelayMs);
    }

    void AddRouteChange(PathRouteChange change) {
        if (!*enabled)
            return;
        pendingRoutes.append(std::move(change));
        if (!Timer()->isActive())
            timer->start(CommitDelayMs);
    }

    // Adds a minute's records to what the file holds of that minute; the
    // records of a list from the engine share one minute, but a list that
    // spans several is split by minute.
    bool InsertPathMinute(const PathMinute& minute, QSqlError* error) {
        qint64 entry = 0;
        qint64 target = 0;
        if (!NameId(minute.entry, &entry, error) || !NameId(minute.target, &target, error))
            return false;
        std::map<qint64, QList<paths::MinuteSummary>> byMinute;
        for (const paths::MinuteSummary& r : minute.records) {
            const qint64 m = r.minuteStartMs >= 0 ? r.minuteStartMs / MinuteMs
                                                  : (r.minuteStartMs - MinuteMs + 1) / MinuteMs;
            byMinute[m].append(r);
        }
        for (auto& [m, records] : byMinute) {
            QSqlQuery& stored = Statement(
                "SELECT hops FROM path_minutes WHERE entry = ? AND minute = ? AND target = ?");
            if (!Run(stored, {entry, m, target}, error))
                return false;
            if (stored.next())
                records =
                    AddMinutes(UnpackMinute(stored.value(0).toByteArray(), m * MinuteMs), records);
            stored.finish();
            if (!Run(Statement("INSERT OR REPLACE INTO path_minutes (entry, minute, target, hops) "
                               "VALUES (?, ?, ?, ?)"),
                     {entry, m, target, PackMinute(records)}, error))
                return false;
        }
        return true;
    }

    bool InsertRouteChange(const PathRouteChange& route, QSqlError* error) {
        qint64 entry = 0;
        qint64 target = 0;
        if (!NameId(route.entry, &entry, error) || !NameId(route.target, &target, error))
            return false;
        return Run(Statement("INSERT INTO path_routes (entry, target, t, kind, before, after) "
                             "VALUES (?, ?, ?, ?, ?, ?)"),
                   {entry, target, route.change.timeMs, static_cast<int>(route.change.kind),
                    PackRoute(route.change.before), PackRoute(route.change.after)},
                   error);
    }

    bool InsertState(const StateRecord& change, QSqlError* error) {
        qint64 entry = 0;
        if (!NameId(change.Entry, &entry, error))
            return false;
        return Run(Statement("INSERT INTO states (entry, t, state) VALUES (?, ?, ?)"),
                   {entry, change.TimeMs, static_cast<int>(change.State)}, error);
    }

    // The difference to the entry's answering run before this one; false
    // when it has none.
    bool JitterStep(qint64 entry, int rtt, int* step, QSqlError* error) {
        auto known = lastRtt.find(entry);
        if (known == lastRtt.end()) {
            QSqlQuery& q = Statement("SELECT rtt_avg FROM runs WHERE entry = ? AND rtt_avg IS NOT "
                                     "NULL ORDER BY t DESC, id DESC LIMIT 1");
            if (!Run(q, {entry}, error))
                return false;
            known = lastRtt.insert(entry, q.next() ? q.value(0).toInt() : -1);
            q.finish();
        }
        *step = *known < 0 ? -1 : std::abs(rtt - *known);
        *known = rtt;
        return true;
    }

    void SetBusyTimeout(int ms) {
        QSqlQuery q(Db());
        q.exec(QStringLiteral("PRAGMA busy_timeout=%1").arg(ms));
    }

    // A statement prepared once for the life of the connection.
    QSqlQuery& Statement(const char* sql) {
        std::unique_ptr<QSqlQuery>& q = statements[sql];
        if (!q) {
            q = std::make_unique<QSqlQuery>(Db());
            q->prepare(QString::fromLatin1(sql));
        }
        return *q;
    }

    // Runs a prepared statement with these values; false with the error.
    bool Run(QSqlQuery& q, std::initializer_list<QVariant> values, QSqlError* error) {
        int i = 0;
        for (const QVariant& v : values)
            q.bindValue(i++, v);
        if (q.exec())
            return true;
        *error = q.lastError();
        return false;
    }

    // The number of a name, made on first use.
    bool NameId(const QString& text, qint64* id, QSqlError* error) {
        const auto found = nameIds.constFind(text);
        if (found != nameIds.cend()) {
            *id = *found;
            return true;
        }
        if (!Run(Statement("INSERT OR IGNORE INTO names (text) VALUES (?)"), {text}, error))
            return false;
        QSqlQuery& q = Statement("SELECT id FROM names WHERE text = ?");
        if (!Run(q, {text}, error))
            return false;
        if (!q.next()) {
            *error = q.lastError();
            return false;
        }
        *id = q.value(0).toLongLong();
        q.finish();
        nameIds.insert(text, *id);
        return true;
    }

    bool Insert(const RunRecord& run, QSqlError* error) {
        qint64 entry = 0;
        qint64 address = 0;
        if (!NameId(run.Entry, &entry, error))
            return false;
        if (!run.Address.isEmpty() && !NameId(run.Address, &address, error))
            return false;
        const auto rtt = [](int ms) { return ms < 0 ? QVariant() : QVariant(ms); };
        const QVariant none;
        int jitter = -1;
        if (run.AvgRtt >= 0 && !JitterStep(entry, run.AvgRtt, &jitter, error))
            return false;
        if (!Run(Statement("INSERT INTO runs (t, entry, address, command, automatic, sent, "
                           "received, rtt_min, rtt_avg, rtt_max, outcome, code, message, echoes) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                 {run.TimeMs, entry, run.Address.isEmpty() ? none : QVariant(address),
                  static_cast<int>(run.Kind), run.Automatic ? 1 : 0, run.Sent, run.Received,
                  rtt(run.MinRtt), rtt(run.AvgRtt), rtt(run.MaxRtt), static_cast<int>(run.Result),
                  run.Code, run.Message.isEmpty() ? none : QVariant(run.Message),
                  run.Echoes.isEmpty()
                      ? none
                      : QVariant(EncodeEchoes(run.Echoes, run.Kind == Command::Trace))},
                 error))
            return false;
        const bool judged = run.Result != Outcome::Cancelled;
        const bool answered = Answering(run.Result);
        if (!Run(Statement(
                     "INSERT INTO minutes (entry, minute, runs, judged, answered, sent, received, "
                     "rtt_min, rtt_max, jitter_sum, jitter_n) VALUES (?, ?, 1, ?, ?, ?, ?, ?, ?, "
                     "?, ?) "
                     "ON CONFLICT (entry, minute) DO UPDATE SET runs = runs + 1,"
                     " judged = judged + excluded.judged, answered = answered + excluded.answered,"
                     " sent = sent + excluded.sent, received = received + excluded.received,"
                     " rtt_min = min(coalesce(rtt_min, excluded.rtt_min),"
                     " coalesce(excluded.rtt_min, rtt_min)),"
                     " rtt_max = max(coalesce(rtt_max, excluded.rtt_max),"
                     " coalesce(excluded.rtt_max, rtt_max)),"
                     " jitter_sum = jitter_sum + excluded.jitter_sum,"
                     " jitter_n = jitter_n + excluded.jitter_n"),
                 {entry, run.TimeMs / 60000, judged ? 1 : 0, answered ? 1 : 0, run.Sent,
                  run.Received, rtt(run.MinRtt), rtt(run.MaxRtt), std::max(jitter, 0),
                  jitter >= 0 ? 1 : 0},
                 error))
            return false;
        if (run.AvgRtt >= 0 &&
            !Run(Statement("INSERT INTO rtt_hours (entry, hour, rtt, n) VALUES (?, ?, ?, 1) "
                           "ON CONFLICT (entry, hour, rtt) DO UPDATE SET n = n + 1"),
                 {entry, run.TimeMs / 3600000, run.AvgRtt}, error))
            return false;
        if (!judged)
            return true;
        QSqlQuery& open = Statement(
            "SELECT id FROM outages WHERE entry = ? AND stop IS NULL ORDER BY start DESC LIMIT 1");
        if (!Run(open, {entry}, error))
            return false;
        const bool down = open.next();
        const qint64 outage = down ? open.value(0).toLongLong() : 0;
        open.finish();
        if (answered && down)
            return Run(Statement("UPDATE outages SET stop = ? WHERE id = ?"), {run.TimeMs, outage},
                       error);
        if (!answered && !down)
            return Run(Statement("INSERT INTO outages (entry, start, stop, outcome, code) "
                                 "VALUES (?, ?, NULL, ?, ?)"),
                       {entry, run.TimeMs, static_cast<int>(run.Result), run.Code}, error);
        return true;
    }

    // One attempt at writing what is queued. While another process holds
    // the file the rows stay queued and are tried again a while later.
    void Commit() {
        // Before the file is open the timer tries the opening again, and
        // what waits goes in after it.
        if (!open || !*enabled)
            return;
        if (timer)
            timer->stop();
        if (!HasPending())
            return;
        QSqlError error;
        bool ok = Begin(&error);
        if (ok) {
            for (const RunRecord& run : pending)
                if (!Insert(run, &error)) {
                    ok = false;
                    break;
                }
            for (const StateRecord& change : pendingStates)
                if (ok && !InsertState(change, &error))
                    ok = false;
            for (const PathMinute& minute : pendingMinutes)
                if (ok && !InsertPathMinute(minute, &error))
                    ok = false;
            for (const PathRouteChange& route : pendingRoutes)
                if (ok && !InsertRouteChange(route, &error))
                    ok = false;
            QSqlQuery q(Db());
            if (ok && Exec(q, QStringLiteral("COMMIT"), &error)) {
                *committed += pending.size();
                ClearPending();
                Tell([](THistoryStore* store) { emit store->Written(); });
                return;
            }
            Rollback();
            // Names made in the failed transaction are gone again, and so
            // are the runs the jitter was counted from.
            nameIds.clear();
            lastRtt.clear();
        }
        if (!IsBusy(error)) {
            FailWith(error);
            return;
        }
        if (!closing)
            Timer()->start(BusyRetryDelayMs);
    }

    // One short last attempt; what cannot be written then is dropped, and
    // said so once.
    void Close() {
        closing = true;
        if (open) {
            SetBusyTimeout(ClosingBusyTimeoutMs);
            Commit();
        }
        if (!pending.isEmpty() && *enabled)
            qWarning("%s", qPrintable(QStringLiteral("The history file %1 is held by another "
                                                     "program: the last %2 runs were not "
                                                     "written to it.")
                                          .arg(QDir::toNativeSeparators(path))
                                          .arg(pending.size())));
        if (!pendingMinutes.isEmpty() && *enabled)
            qWarning("%s", qPrintable(QStringLiteral("The history file %1 is held by another "
                                                     "program: the last %2 minutes of watched "
                                                     "paths were not written to it.")
                                          .arg(QDir::toNativeSeparators(path))
                                          .arg(pendingMinutes.size())));
        ClearPending();
        statements.clear();
        delete timer;
        timer = nullptr;
    }
};

THistoryStore::THistoryStore(const QString& path, QObject* owner)
    : QObject(owner), FPath(path), FEnabled(std::make_shared<std::atomic<bool>>(true)),
      FCommitted(std::make_shared<std::atomic<qint64>>(0)), FWorker(std::make_shared<Worker>()),
      FThread(std::make_unique<TSqlThread>(QStringLiteral("history"))) {
    FWorker->path = path;
    FWorker->connection = FThread->Connection();
    FWorker->enabled = FEnabled;
    FWorker->committed = FCommitted;
    FWorker->owner->store = this;
    std::shared_ptr<Worker> worker = FWorker;
    FThread->Post([worker] { worker->Open(); });
}

THistoryStore::~THistoryStore() {
    {
        QMutexLocker locker(&FWorker->owner->lock);
        FWorker->owner->store = nullptr;
    }
    std::shared_ptr<Worker> worker = FWorker;
    FThread->Post([worker] { worker->Close(); });
    // The worker makes its last attempt and ends on its own.
    FThread.reset();
}

void THistoryStore::Record(const RunRecord& run) {
    if (!*FEnabled)
        return;
    std::shared_ptr<Worker> worker = FWorker;
    FThread->Post([worker, run] { worker->Add(run); });
}

void THistoryStore::RecordState(const StateRecord& change) {
    if (!*FEnabled)
        return;
    std::shared_ptr<Worker> worker = FWorker;
    FThread->Post([worker, change] { worker->AddState(change); });
}

void THistoryStore::RecordPathMinutes(const QString& entry, const QString& target,
                                      const QList<paths::MinuteSummary>& minute) {
    if (!*FEnabled || minute.isEmpty())
        return;
    std::shared_ptr<Worker> worker = FWorker;
    FThread->Post([worker, m = PathMinute{entry, target, minute}]() mutable {
        worker->AddPathMinute(std::move(m));
    });
}

void THistoryStore::RecordRouteChange(const QString& entry, const QString& target,
                                      const paths::RouteChange& change) {
    if (!*FEnabled)
        return;
    std::shared_ptr<Worker> worker = FWorker;
    FThread->Post([worker, c = PathRouteChange{entry, target, change}]() mutable {
        worker->AddRouteChange(std::move(c));
    });
}

void THistoryStore::Sync() {
    std::shared_ptr<Worker> worker = FWorker;
    FThread->Post([worker] { worker->Commit(); });
    FThread->Drain();
}

void THistoryStore::Flush(QObject* context, std::function<void()> done) {
    FFlushWaiting.append({QPointer<QObject>(context), std::move(done)});
    // Requests that come while a commit is on its way share it.
    if (FFlushing)
        return;
    FFlushing = true;
    std::shared_ptr<Worker> worker = FWorker;
    FThread->Post([worker] {
        worker->Commit();
        worker->Tell([](THistoryStore* store) { store->Flushed(); });
    });
}

void THistoryStore::Flushed() {
    FFlushing = false;
    const auto waiting = std::exchange(FFlushWaiting, {});
    for (const auto& [context, done] : waiting)
        if (context)
            done();
}

QString THistoryStore::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/history.sqlite");
}

} // namespace history

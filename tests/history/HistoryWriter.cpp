// Records runs into a history file from a process of its own, so a test
// can have several processes write the same file at once.
//   history_writer <file> <entry> <rounds> <runs per round>
#include "history/THistoryStore.h"
#include "history/TSqlThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 5)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    const QString entry = QString::fromLocal8Bit(argv[2]);
    const int rounds = std::atoi(argv[3]);
    const int perRound = std::atoi(argv[4]);
    bool failed = false;
    {
        history::THistoryStore store(path);
        QObject::connect(&store, &history::THistoryStore::Failed, [&](const QString& message) {
            std::fprintf(stderr, "%s\n", qPrintable(message));
            failed = true;
        });
        for (int round = 0; round < rounds; ++round) {
            for (int i = 0; i < perRound; ++i) {
                history::RunRecord r;
                r.TimeMs = QDateTime::currentMSecsSinceEpoch();
                r.Entry = entry;
                r.Address = entry;
                r.Sent = r.Received = 1;
                r.MinRtt = r.AvgRtt = r.MaxRtt = i;
                r.Result = history::Outcome::Answered;
                store.Record(r);
            }
            store.Sync();
        }
        // A round that met the other writer's lock for long is still
        // queued, and so is everything while the other writer holds the
        // file as it first sets it up: the store's own retries write it.
        const qint64 total = qint64{rounds} * perRound;
        QEventLoop loop;
        QObject::connect(&store, &history::THistoryStore::Written, &loop, [&] {
            if (store.Committed() >= total)
                loop.quit();
        });
        QObject::connect(&store, &history::THistoryStore::Failed, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        if (store.Committed() < total && !failed)
            loop.exec();
        if (store.Committed() != total)
            failed = true;
    }
    QCoreApplication::processEvents();
    return history::TSqlThread::EndProcess(failed ? 1 : 0);
}

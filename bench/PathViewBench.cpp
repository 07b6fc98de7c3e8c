// The Path windows' cost on the window thread and the history's cost per
// watched path (each figure the median of three rounds):
//   1. 16 Path windows open over a scripted echo sender, each on a 10-hop
//      path whose every responder has its last 100 round trips: the window
//      thread's CPU time for one round of all 16 (sending it, handling every
//      answer, the tables worked out again and every window repainted), per
//      window;
//   2. one minute of a 10-hop path written to the history: RecordPathMinutes
//      and the store's worker committing it (Sync waits for the commit), in
//      a file that already holds a day of that path.
// Both run without a network: the sender answers at once, and the window
// thread does all that a real round would make it do.
#include "history/THistoryStore.h"
#include "history/TSqlThread.h"
#include "paths/PathWatch.h"
#include "pathview/Tfm_path.h"
#include "platform/IcmpTypes.h"
#include "support/FakeEchoSender.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr int Windows = 16;
constexpr int Hops = 10;
constexpr int WarmRounds = 110; // every strip full
constexpr int TimedRounds = 20;
constexpr qint64 MinuteMs = 60000;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// CPU time of the calling thread, in milliseconds.
double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// ---- 1. the window thread's work per round ----

// Ends every request in flight: routers 10.62.<ttl>.1 up to hop 9, the
// request's own target from hop 10 on, round trips that vary from round to
// round.
void answerAll(netsonde::test::FakeEchoSender& fake, int round) {
    std::vector<netsonde::test::FakeEchoSender::Request> now = std::exchange(fake.waiting, {});
    for (auto& r : now) {
        paths::EchoSender::Outcome o;
        const int ttl = r.options.ttl;
        if (ttl < Hops) {
            o.status = IcmpStatus::TtlExpiredTransit;
            o.from = {10, 62, static_cast<std::uint8_t>(ttl), 1};
        } else {
            o.status = IcmpStatus::Success;
            o.from = r.target.address;
        }
        const double rttMs = ttl + 0.3 * ((round + ttl) % 7);
        o.sent = netsonde::test::FakeEchoSender::Clock::time_point(std::chrono::seconds(1000));
        o.received =
            o.sent + std::chrono::duration_cast<netsonde::test::FakeEchoSender::Clock::duration>(
                         std::chrono::duration<double, std::milli>(rttMs));
        r.done(o);
    }
}

// One round of every window: the requests sent, every answer handled and
// every window painted again. Returns the window thread's CPU time in ms.
double oneRound(const std::vector<pathview::Tfm_path*>& windows,
                netsonde::test::FakeEchoSender& fake, int round) {
    const double cpu0 = threadCpuMs();
    for (pathview::Tfm_path* w : windows)
        w->Watch()->RunRound();
    answerAll(fake, round);
    // The windows paint what changed as the event loop would, once each.
    QApplication::processEvents();
    return threadCpuMs() - cpu0;
}

void benchWindows() {
    std::vector<double> perWindow;
    for (int trial = 0; trial < 3; ++trial) {
        auto fake = std::make_shared<netsonde::test::FakeEchoSender>();
        const auto previous = pathview::Tfm_path::SetEchoSenderForTests(fake);
        std::vector<std::unique_ptr<pathview::Tfm_path>> owned;
        std::vector<pathview::Tfm_path*> windows;
        for (int i = 0; i < Windows; ++i) {
            owned.push_back(
                std::make_unique<pathview::Tfm_path>(QStringLiteral("10.63.%1.2").arg(i + 1)));
            pathview::Tfm_path* w = owned.back().get();
            // Rounds come when the bench says; the first is out already.
            w->Watch()->Pause();
            w->Watch()->SetResolveNames(false);
            w->show();
            windows.push_back(w);
        }
        answerAll(*fake, 0);
        QApplication::processEvents();
        for (int round = 1; round <= WarmRounds; ++round)
            oneRound(windows, *fake, round);
        double cpu = 0;
        for (int round = 0; round < TimedRounds; ++round)
            cpu += oneRound(windows, *fake, WarmRounds + 1 + round);
        perWindow.push_back(cpu / TimedRounds / Windows);
        pathview::Tfm_path::SetEchoSenderForTests(previous);
    }
    const double ms = median(perWindow);
    std::printf("%-52s %7.3f ms per window per round  (target <= 1 ms) %s\n",
                "16 Path windows, window thread CPU per round", ms, ms <= 1.0 ? "ok" : "MISSED");
}

// ---- 2. the history's write per minute ----

paths::Address routerAt(int ttl) {
    paths::Address a;
    a.family = 4;
    a.bytes = {10, 62, static_cast<std::uint8_t>(ttl), 1};
    return a;
}

// One minute of a 10-hop path at 60 rounds: each hop's own record and its
// responder's.
QList<paths::MinuteSummary> minuteOf(qint64 minuteMs) {
    QList<paths::MinuteSummary> records;
    for (int ttl = 1; ttl <= Hops; ++ttl) {
        paths::MinuteSummary s;
        s.minuteStartMs = minuteMs;
        s.ttl = ttl;
        s.sent = s.answered = 60;
        s.rttSumMs = 60.0 * ttl;
        s.rttSquaresMs = 60.0 * ttl * ttl;
        s.diffSumMs = 59 * 0.2;
        s.diffCount = 59;
        s.histogram[paths::HistogramBucket(ttl)] = 60;
        records.append(s);
        s.responder = routerAt(ttl);
        records.append(s);
    }
    return records;
}

void benchMinutes(const QString& folder) {
    history::THistoryStore store(folder + QStringLiteral("/paths.sqlite"));
    const qint64 first =
        QDateTime::currentMSecsSinceEpoch() / MinuteMs * MinuteMs - MinuteMs * 1440;
    for (int m = 0; m < 1440; ++m)
        store.RecordPathMinutes(QStringLiteral("far"), QStringLiteral("10.63.1.2"),
                                minuteOf(first + m * MinuteMs));
    store.Sync();
    std::vector<double> written;
    for (int trial = 0; trial < 3; ++trial) {
        QElapsedTimer t;
        t.start();
        store.RecordPathMinutes(QStringLiteral("far"), QStringLiteral("10.63.1.2"),
                                minuteOf(first + (1440 + trial) * MinuteMs));
        store.Sync();
        written.push_back(t.nsecsElapsed() / 1e6);
    }
    const double ms = median(written);
    std::printf("%-52s %7.3f ms per path  (target <= 5 ms) %s\n",
                "one minute of a 10-hop path written to the history", ms,
                ms <= 5.0 ? "ok" : "MISSED");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform warns at every window it shows that it passes
    // no size hints on; the figures need none, and the rest is said.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
        if (!message.contains(QLatin1String("propagateSizeHints")))
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    QApplication app(argc, argv);
    QTemporaryDir dir;
    benchWindows();
    benchMinutes(dir.path());
    // The store's worker ends before its folder goes.
    history::TSqlThread::WaitForEnded(history::TSqlThread::EndWaitMs);
    return 0;
}

// A program without a display that uses the floors below the desktop: it
// pings one address, keeps its lines in a host list, watches the path to
// it for one round, writes and reads a session file and opens a history
// store. It links only netsonde_echo, _resolve, _platform, _files, _history,
// _hosts and _paths, so it builds only while none of them needs Qt Gui or
// Widgets.
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "files/SessionFile.h"
#include "history/THistoryStore.h"
#include "hosts/HostList.h"
#include "paths/PathReport.h"
#include "paths/PathWatch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    IcmpBindingScope binding;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 2;

    TAxPing ping(nullptr);
    ping.SetNumber(1);
    bool ended = false;
    QStringList lines;
    ping.OnData = [&ping, &lines](QObject*, int) {
        lines << ping.ReplyText();
        std::printf("%s\n", qPrintable(lines.last()));
    };
    ping.OnFinished = [&ended](QObject*) { ended = true; };
    ping.OnError = [&ended](QObject*, int code, const QString& text) {
        std::printf("Error %d %s\n", code, qPrintable(text));
        ended = true;
    };
    ping.Start(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("127.0.0.1"));
    QDeadlineTimer deadline(10000);
    while (!ended && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (!ended)
        return 3;
    hosts::HostList list;
    list.AddItem(QStringLiteral("127.0.0.1"));
    list.SetResults(0, lines);
    if (list.Results(0) != lines || list.State(0) == states::HostState::None)
        return 6;

    const auto target = paths::ParseTarget(QStringLiteral("127.0.0.1"));
    paths::PathWatch watch(*target);
    watch.SetMaxTtl(2);
    watch.SetResolveNames(false);
    bool roundEnded = false;
    QObject::connect(&watch, &paths::PathWatch::RoundEnded, [&roundEnded] { roundEnded = true; });
    watch.RunRound();
    QDeadlineTimer roundDeadline(10000);
    while (!roundEnded && !roundDeadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    std::printf("%s", qPrintable(paths::ReportText(watch.Figures())));
    if (!roundEnded || watch.Distance() != 1)
        return 7;

    QString error;
    const QList<files::SessionFile::Entry> written{{"127.0.0.1", QStringList{"line"}}};
    QList<files::SessionFile::Entry> read;
    if (!files::SessionFile::Write(dir.filePath("s.nsd"), written, error) ||
        files::SessionFile::Read(dir.filePath("s.nsd"), read, error) != files::LoadStatus::Done ||
        read != written) {
        std::printf("session: %s\n", qPrintable(error));
        return 4;
    }

    history::THistoryStore store(dir.filePath("history.sqlite"));
    store.Sync();
    return store.Enabled() ? 0 : 5;
}

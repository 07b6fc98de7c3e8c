// Pings and traces one target with the program's own components and prints
// the lines a user would see: run_target [host] (default localhost).
#include "desktop/MessageBoxes.h"
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"

#include <QApplication>
#include <QWidget>
#include <cstdio>

namespace {

void Print(const QString& line) {
    std::printf("%s\n", qPrintable(line));
}

// Runs one component to its end and prints its closing lines.
void RunToEnd(TAxIcmpTask& task, const QString& target, const std::function<QString()>& summary) {
    bool ended = false;
    task.OnError = [&](QObject*, int code, const QString& msg) {
        Print(QStringLiteral("Error %1: %2").arg(code).arg(msg));
        ended = true;
    };
    task.OnFinished = [&](QObject*) {
        Print(QString());
        Print(summary());
        Print(QStringLiteral("\nIP Address: ") + task.HostAddress());
        Print(QStringLiteral("Destination: ") + task.HostName());
        Print(QStringLiteral("Return Name: ") + task.ReplyName());
        ended = true;
    };
    task.Start(target);
    while (!ended)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    platform::UseToolkitMessageBoxes();
    IcmpBindingScope binding;
    QString target = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("localhost");
    QWidget form;

    TAxPing ping(&form);
    ping.SetNumber(4);
    ping.SetResolve(true);
    ping.OnData = [&](QObject*, int) { Print(ping.ReplyText()); };
    RunToEnd(ping, target, [&] { return ping.StatsText(); });

    Print(QString());
    TAxTrace trace(&form);
    trace.SetSendTestPacket(true);
    trace.SetTimeToLive(16);
    trace.OnTest = [&](QObject*) {
        Print(QStringLiteral("expected hops: %1").arg(trace.ExpectedHops()));
    };
    trace.OnData = [&](QObject*, int) { Print(trace.HopText()); };
    RunToEnd(trace, target, [&] { return trace.SummaryText(); });
    return 0;
}

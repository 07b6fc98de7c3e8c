// Saving and loading a session of 10,000 hosts with 12 result lines each
// through the main window's own code (list filled and drawn), against a bare
// read of the same file split into lines, measured in the same run; then a
// session of 500,000 hosts loaded through the window, progress dialog
// included, in a process of its own so that its peak memory is the load's.
// Each figure is the median of three rounds.
#include "app/Tfm_ns.h"
#include "controls/g_listbox.h"
#include "desktop/FileDialogs.h"
#include "desktop/MessageBoxes.h"
#include "echo/IcmpBinding.h"
#include "files/SessionFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Picks the same file every time and answers every question with Yes.
class FixedPick : public platform::FileDialogs {
public:
    explicit FixedPick(QString path) : path(std::move(path)) {}
    std::optional<QString> PickFile(const platform::FileDialogRequest&) override { return path; }

private:
    QString path;
};

class QuietBoxes : public platform::MessageBoxes {
public:
    platform::MsgAnswer ErrorAbortIgnore(const QString&) override {
        return platform::MsgAnswer::Abort;
    }
    void Information(const QString&) override {}
    void Plain(const QString&) override {}
    void Error(const QString& text) override {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
    platform::MsgAnswer YesNo(const QString&) override { return platform::MsgAnswer::Yes; }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void fill(Tfm_ns& w) {
    w.lb_add->Clear();
    for (int i = 0; i < 10000; ++i) {
        const QString host =
            QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 256);
        QStringList lines;
        for (int j = 0; j < 4; ++j)
            lines << QStringLiteral("56 bytes received from %1. time = %2ms").arg(host).arg(j + 1);
        lines << "" << QStringLiteral("Stats: Rcvd/Sent: 4/4, Min/Avg/Max: 1/2/4") << ""
              << QStringLiteral("IP Address: %1").arg(host)
              << QStringLiteral("Destination: host-%1.example").arg(i)
              << QStringLiteral("Return Name: %1").arg(host) << "\tindented"
              << "";
        w.lb_add->AddItem(host, lines);
    }
}

void drawn(Tfm_ns& w) {
    w.lb_add->repaint();
    QApplication::processEvents();
}

qsizetype bareReadAndSplit(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = f.readAll();
    qsizetype lines = 0;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        qsizetype end = bytes.indexOf("\r\n", pos);
        if (end < 0)
            end = bytes.size();
        const QByteArray line = bytes.sliced(pos, end - pos);
        lines += line.size() >= 0;
        pos = end + 2;
    }
    return lines;
}

// Writes a session of hosts x 12 lines straight to the file, in the form the
// window saves, without holding it in memory.
void writeBigSession(const QString& path, int hosts) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return;
    QByteArray block;
    for (int i = 0; i < hosts; ++i) {
        const QByteArray host =
            QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 256).toLatin1();
        block += "[" + host + "]\r\n";
        for (int j = 0; j < 4; ++j)
            block += QByteArray::number(j) + "=56 bytes received from " + host +
                     ". time = " + QByteArray::number(j + 1) + "ms\r\n";
        block +=
            "4=\r\n5=Stats: Rcvd/Sent: 4/4, Min/Avg/Max: 1/2/4\r\n6=\r\n7=IP Address: " + host +
            "\r\n8=Destination: host-" + QByteArray::number(i) +
            ".example\r\n9=Return Name: " + host + "\r\n10=\tindented\r\n11=\r\n";
        if (block.size() > (1 << 20)) {
            f.write(block);
            block.clear();
        }
    }
    f.write(block);
}

qint64 peakMemoryKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// The child's part: one load of the big session through the window. Prints
// "<seconds> <peak KiB> <entries>".
int loadBig(const QString& path) {
    platform::SetDialogs(std::make_unique<FixedPick>(path));
    platform::SetMessages(std::make_unique<QuietBoxes>());
    IcmpBindingScope binding;
    Tfm_ns w;
    w.show();
    QApplication::processEvents();
    QElapsedTimer t;
    t.start();
    w.LoadSession();
    drawn(w);
    const double seconds = t.nsecsElapsed() / 1e9;
    std::printf("%.3f %lld %d\n", seconds, static_cast<long long>(peakMemoryKiB()),
                w.lb_add->Count());
    return 0;
}

void report(const char* what, double seconds, double limit) {
    std::printf("%-44s %8.3f s   (target <= %.1f s) %s\n", what, seconds, limit,
                seconds <= limit ? "ok" : "MISSED");
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--load")
        return loadBig(QString::fromLocal8Bit(argv[2]));
    QTemporaryDir dir;
    const QString path = dir.filePath("bench.NSD");
    platform::SetDialogs(std::make_unique<FixedPick>(path));
    platform::SetMessages(std::make_unique<QuietBoxes>());
    IcmpBindingScope binding;
    Tfm_ns w;
    w.show();
    fill(w);
    drawn(w);

    std::vector<double> saves, loads, bares, ratios;
    qsizetype lines = 0;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer t;
        t.start();
        w.SaveSession();
        saves.push_back(t.nsecsElapsed() / 1e9);

        t.restart();
        w.LoadSession();
        drawn(w);
        loads.push_back(t.nsecsElapsed() / 1e9);

        // The file layer alone, to show where the time goes.
        QList<files::SessionFile::Entry> entries;
        QString error;
        t.restart();
        files::SessionFile::Read(path, entries, error);
        const double read = t.nsecsElapsed() / 1e9;
        t.restart();
        files::SessionFile::Write(path, entries, error);
        const double write = t.nsecsElapsed() / 1e9;
        t.restart();
        w.lb_add->Clear();
        const double clear = t.nsecsElapsed() / 1e9;
        t.restart();
        for (const files::SessionFile::Entry& entry : entries)
            w.lb_add->AddItem(entry.address, entry.lines ? QVariant(*entry.lines) : QVariant());
        const double fill = t.nsecsElapsed() / 1e9;
        std::printf(
            "  file layer alone: read %.3f s, write %.3f s; list: clear %.3f s, fill %.3f s\n",
            read, write, clear, fill);

        t.restart();
        lines = bareReadAndSplit(path);
        bares.push_back(t.nsecsElapsed() / 1e9);
        ratios.push_back(loads.back() / bares.back());
        std::printf("  round %d: save %.3f s, load %.3f s, bare read %.4f s, ratio %.1f\n",
                    round + 1, saves.back(), loads.back(), bares.back(), ratios.back());
    }
    std::printf("file: %lld bytes, %lld lines, %d entries loaded back\n",
                static_cast<long long>(QFile(path).size()), static_cast<long long>(lines),
                w.lb_add->Count());
    report("save of 10,000 hosts x 12 lines", median(saves), 0.3);
    report("load of 10,000 hosts x 12 lines, drawn", median(loads), 0.3);
    std::printf("%-44s %8.1f x  (bare %.4f s; target <= 5) %s\n",
                "load against bare read-and-split", median(ratios), median(bares),
                median(ratios) <= 5 ? "ok" : "MISSED");

    const QString big = dir.filePath("big.NSD");
    writeBigSession(big, 500000);
    const qint64 bigSize = QFile(big).size();
    std::vector<double> bigLoads, bigPeaks;
    for (int round = 0; round < 3; ++round) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--load", big});
        child.waitForFinished(120000);
        const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
        if (figures.size() != 3) {
            std::printf("  big round %d: the loading process failed\n", round + 1);
            return 1;
        }
        bigLoads.push_back(figures[0].toDouble());
        bigPeaks.push_back(figures[1].toDouble() * 1024.0 / double(bigSize));
        std::printf("  big round %d: load %.3f s, peak %.0f MiB (%.2f x file), %s entries\n",
                    round + 1, bigLoads.back(), figures[1].toDouble() / 1024.0, bigPeaks.back(),
                    figures[2].constData());
    }
    std::printf("big file: %lld bytes\n", static_cast<long long>(bigSize));
    report("load of 500,000 hosts x 12 lines, drawn", median(bigLoads), 10.0);
    std::printf("%-44s %8.2f x  (target <= 4) %s\n", "peak memory (VmHWM) against file size",
                median(bigPeaks), median(bigPeaks) <= 4 ? "ok" : "MISSED");
    return 0;
}

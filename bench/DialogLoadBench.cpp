// Loading an address list file into the address dialog, against a bare
// read, split and sort of the same file measured in the same run:
//   100,000 and 1,000,000 shuffled lines, in the C locale and in a locale
//   with a full collation (en_US).
// Each figure is the median of three runs, the load timed from the click
// until the list has been laid out and painted; prints the ratio ours / bare.
#include "controls/TCBitBtn.h"
#include "desktop/FileDialogs.h"
#include "dialogs/Tfm_add.h"
#include "files/AddressListFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Picks the same file every time the dialog asks.
class FixedPick final : public platform::FileDialogs {
public:
    explicit FixedPick(QString path) : FPath(std::move(path)) {}
    std::optional<QString> PickFile(const platform::FileDialogRequest&) override { return FPath; }

private:
    QString FPath;
};

// n distinct host lines in random order, CR LF after each.
QByteArray shuffledLines(int n) {
    std::vector<int> numbers(n);
    for (int i = 0; i < n; ++i)
        numbers[i] = i;
    std::mt19937 random(13);
    std::shuffle(numbers.begin(), numbers.end(), random);
    QByteArray out;
    out.reserve(qsizetype(n) * 24);
    for (int i : numbers) {
        out += (i % 2 ? "Host-" : "host-") + QByteArray::number(i) + ".example.net\r\n";
    }
    return out;
}

double bareSeconds(const QString& path) {
    QElapsedTimer t;
    t.start();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = f.readAll();
    QList<QByteArray> lines = bytes.split('\n');
    std::sort(lines.begin(), lines.end());
    return double(t.nsecsElapsed()) / 1e9;
}

// The file's read and split into entries alone, the share of the load that
// is not the list's.
double readSeconds(const QString& path) {
    QElapsedTimer t;
    t.start();
    QStringList entries;
    QString error;
    AddressListFile::Read(path, entries, error);
    return double(t.nsecsElapsed()) / 1e9;
}

double loadSeconds(int expected) {
    Tfm_add fm;
    fm.show();
    QCoreApplication::processEvents();
    QElapsedTimer t;
    t.start();
    fm.bn_loadClick(fm.bn_load);
    // Until the list has laid out and painted its rows.
    QCoreApplication::processEvents();
    const double s = double(t.nsecsElapsed()) / 1e9;
    if (fm.Count() != expected)
        std::fprintf(stderr, "loaded %d entries, expected %d\n", fm.Count(), expected);
    return s;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    std::printf("%-9s %-6s %10s %10s %10s %7s\n", "lines", "locale", "load s", "(read s)", "bare s",
                "ratio");
    // One size may be given on the command line; both run by default.
    std::vector<int> sizes{100000, 1000000};
    if (argc > 1)
        sizes = {std::atoi(argv[1])};
    for (int n : sizes) {
        const QString path = dir.filePath(QStringLiteral("hosts%1.net").arg(n));
        {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(shuffledLines(n)) < 0)
                return 1;
        }
        auto previous = platform::SetDialogs(std::make_unique<FixedPick>(path));
        for (const char* name : {"C", "en_US"}) {
            QLocale::setDefault(QLocale(QString::fromLatin1(name)));
            std::vector<double> load, read, bare;
            for (int run = 0; run < 3; ++run) {
                bare.push_back(bareSeconds(path));
                read.push_back(readSeconds(path));
                load.push_back(loadSeconds(n));
            }
            const double l = median(load), b = median(bare);
            std::printf("%-9d %-6s %10.3f %10.3f %10.3f %7.2f\n", n, name, l, median(read), b,
                        l / b);
            std::fflush(stdout);
        }
        platform::SetDialogs(std::move(previous));
    }
    return 0;
}

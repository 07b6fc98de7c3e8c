#include "app/StartUp.h"

#include <cstdio>
#include <cstdlib>

namespace startup {

Arguments ParseArguments(const QStringList& args) {
    Arguments result;
    bool options = true;
    for (const QString& arg : args) {
        if (options && arg == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (options && arg.startsWith(QLatin1Char('-'))) {
            result.error =
                QStringLiteral("unknown option '%1': the only argument is a file to open").arg(arg);
            return result;
        }
        if (!result.file.isEmpty() || arg.isEmpty()) {
            result.error = arg.isEmpty() ? QStringLiteral("an empty file name cannot be opened")
                                         : QStringLiteral("only one file can be opened at a time");
            return result;
        }
        result.file = arg;
    }
    return result;
}

QString NoDisplayReason(const std::function<QString(const char*)>& env) {
    if (!env("QT_QPA_PLATFORM").isEmpty() || !env("DISPLAY").isEmpty() ||
        !env("WAYLAND_DISPLAY").isEmpty())
        return {};
    return QStringLiteral("no display to open: neither DISPLAY nor WAYLAND_DISPLAY is set "
                          "(a graphical session is needed)");
}

int Check(int argc, char** argv, QString& file) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const Arguments parsed = ParseArguments(args);
    QString error = parsed.error;
    int status = 2;
    if (error.isEmpty()) {
        status = 1;
        error = NoDisplayReason(
            [](const char* name) { return QString::fromLocal8Bit(std::getenv(name)); });
    }
    if (!error.isEmpty()) {
        std::fprintf(stderr, "netsonde: %s\n", qPrintable(error));
        return status;
    }
    file = parsed.file;
    return 0;
}

} // namespace startup

#include "app/AutostartEntry.h"

#include "files/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// An argument of Exec: bare when it holds only harmless characters, else in
// double quotes with the four characters that stay special there escaped.
// The value as a whole is a desktop entry string, whose own escape doubles
// every backslash and writes a line break or tab as \n, \r or \t, so that
// no character of the path can end the line and start a key of its own; a
// percent sign would start a field code.
QString execArgument(const QString& arg) {
    bool bare = !arg.isEmpty();
    for (QChar c : arg)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && !QStringLiteral("/._+-,").contains(c))
            bare = false;
    if (bare)
        return arg;
    QString quoted = QStringLiteral("\"");
    for (QChar c : arg) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    quoted.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    quoted.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return quoted;
}

} // namespace

QString AutostartEntry::Path() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/netsonde.desktop");
}

bool AutostartEntry::Exists() {
    return QFileInfo(Path()).isFile();
}

QString AutostartEntry::Text(const QString& programPath) {
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Netsonde\n"
                          "Comment=Keeps watch over your hosts from the notification area\n"
                          "Exec=env %1=1 %2\n"
                          "Icon=netsonde\n"
                          "Terminal=false\n"
                          "NoDisplay=true\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(QString::fromLatin1(StartFlag), execArgument(programPath));
}

bool AutostartEntry::Write(const QString& programPath, QString& error) {
    const QString path = Path();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("The folder %1 cannot be created, so Netsonde cannot start at "
                               "login.")
                    .arg(QDir::toNativeSeparators(folder));
        return false;
    }
    return files::WriteFileReplacing(path, Text(programPath).toUtf8(), error);
}

bool AutostartEntry::Remove(QString& error) {
    QFile file(Path());
    if (!file.exists() || file.remove())
        return true;
    error = QStringLiteral("%1 cannot be removed: %2")
                .arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
    return false;
}

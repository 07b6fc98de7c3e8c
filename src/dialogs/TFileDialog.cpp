#include "dialogs/TFileDialog.h"

#include "desktop/MessageBoxes.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

TFileDialog::TFileDialog(platform::FileDialogRequest::Mode mode, QObject* owner)
    : QObject(owner), FMode(mode) {}

QString TFileDialog::WithDefaultExt(const QString& path, const QString& ext) {
    if (ext.isEmpty() || path.isEmpty())
        return path;
    const QString name = QFileInfo(path).fileName();
    // A leading dot marks a hidden file, not an extension.
    if (name.isEmpty() || name.indexOf(QLatin1Char('.'), 1) >= 0)
        return path;
    return path + QLatin1Char('.') + ext;
}

QString TFileDialog::ResolveDefaultExt(const QString& path, const QString& ext, bool typedFirst) {
    const QString withExt = WithDefaultExt(path, ext);
    if (withExt == path)
        return path;
    if (typedFirst && QFileInfo(path).exists())
        return path;
    const QFileInfo wanted(withExt);
    const QString base = QFileInfo(path).fileName() + QLatin1Char('.');
    // The common spellings first, then any other mix of cases.
    for (const QString& e : {ext, ext.toLower(), ext.toUpper()}) {
        const QString candidate = path + QLatin1Char('.') + e;
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    const QDir folder = wanted.absoluteDir();
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (name.size() == base.size() + ext.size() && name.startsWith(base) &&
            QStringView(name).mid(base.size()).compare(ext, Qt::CaseInsensitive) == 0)
            return path + name.mid(base.size() - 1);
    }
    return withExt;
}

bool TFileDialog::Acceptable(const QString& path) const {
    auto& boxes = platform::Messages();
    const QFileInfo info(path);
    const QString shown = QDir::toNativeSeparators(path);
    if ((FOptions & (ofPathMustExist | ofFileMustExist)) && !info.absoluteDir().exists()) {
        boxes.Error(QStringLiteral("%1\nThe path does not exist.\nCheck the path and try again.")
                        .arg(shown));
        return false;
    }
    const bool exists = info.exists();
    if ((FOptions & ofFileMustExist) && !exists) {
        boxes.Error(
            QStringLiteral("%1\nFile not found.\nCheck the file name and try again.").arg(shown));
        return false;
    }
    if ((FOptions & ofOverwritePrompt) && exists &&
        boxes.YesNo(QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(shown)) !=
            platform::MsgAnswer::Yes)
        return false;
    // Creating is what the user asked for, so Enter answers Yes.
    if ((FOptions & ofCreatePrompt) && !exists &&
        boxes.YesNoDefaultYes(
            QStringLiteral("%1\nThis file does not exist.\nDo you want to create it?")
                .arg(shown)) != platform::MsgAnswer::Yes)
        return false;
    return true;
}

bool TFileDialog::Execute() {
    platform::FileDialogRequest request;
    request.DialogMode = FMode;
    request.Parent = qobject_cast<QWidget*>(parent());
    request.Title = FTitle;
    request.Filter = FFilter;
    request.FilterIndex = FFilterIndex;
    request.InitialDir = FInitialDir;
    request.DefaultExt = FDefaultExt;
    QString start = FFileName;
    for (;;) {
        request.FileName = start;
        const std::optional<QString> picked = platform::Dialogs().PickFile(request);
        if (!picked || picked->isEmpty())
            return false;
        // An open dialog takes a file of the very name typed before it
        // looks for one with the default extension.
        const QString path = ResolveDefaultExt(*picked, FDefaultExt,
                                               FMode == platform::FileDialogRequest::Mode::Open);
        if (Acceptable(path)) {
            FFileName = path;
            return true;
        }
        // Start the next round from the name the user chose.
        start = path;
    }
}

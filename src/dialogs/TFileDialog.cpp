#include "dialogs/TFileDialog.h"

#include "platform/MessageBoxes.h"

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
    if ((FOptions & ofCreatePrompt) && !exists &&
        boxes.YesNo(QStringLiteral("%1\nThis file does not exist.\nDo you want to create it?")
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
        const QString path = WithDefaultExt(*picked, FDefaultExt);
        if (Acceptable(path)) {
            FFileName = path;
            return true;
        }
        // Start the next round from the name the user chose.
        start = path;
    }
}

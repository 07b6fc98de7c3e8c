#include "desktop/FileDialogs.h"

#include <QFileDialog>
#include <QStringList>

namespace platform {

QStringList QtNameFilters(const QString& filter) {
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (QString pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            // "All files" means names without a dot as well.
            if (pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*");
            for (const QString& variant : {pattern, pattern.toLower(), pattern.toUpper()}) {
                if (!patterns.contains(variant))
                    patterns << variant;
            }
        }
        result << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
    }
    return result;
}

namespace {

class QtFileDialogs final : public FileDialogs {
public:
    std::optional<QString> PickFile(const FileDialogRequest& request) override {
        QFileDialog dialog(request.Parent, request.Title, request.InitialDir);
        const bool open = request.DialogMode == FileDialogRequest::Mode::Open;
        dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        // The callers check that a file exists, add the default extension in
        // the case of an existing file and ask their own questions before
        // replacing a file, so the dialog hands over the name as typed.
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
        const QStringList filters = QtNameFilters(request.Filter);
        if (!filters.isEmpty()) {
            dialog.setNameFilters(filters);
            const int index = request.FilterIndex - 1;
            if (index >= 0 && index < filters.size())
                dialog.selectNameFilter(filters[index]);
        }
        if (!request.FileName.isEmpty())
            dialog.selectFile(request.FileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().first();
    }
};

std::unique_ptr<FileDialogs>& current() {
    static std::unique_ptr<FileDialogs> layer = std::make_unique<QtFileDialogs>();
    return layer;
}

} // namespace

FileDialogs& Dialogs() {
    return *current();
}

std::unique_ptr<FileDialogs> SetDialogs(std::unique_ptr<FileDialogs> replacement) {
    std::unique_ptr<FileDialogs> previous = std::move(current());
    current() = replacement ? std::move(replacement) : std::make_unique<QtFileDialogs>();
    return previous;
}

} // namespace platform

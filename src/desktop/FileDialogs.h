#pragma once

#include <QString>
#include <memory>
#include <optional>

class QWidget;

namespace platform {

// What a file dialog is asked to show.
struct FileDialogRequest {
    enum class Mode { Open, Save };
    Mode DialogMode = Mode::Open;
    QWidget* Parent = nullptr;
    QString Title;
    // Toolkit-style filter: pairs of description and patterns separated by
    // '|', e.g. "NET Files|*.net|All Files|*.*".
    QString Filter;
    // 1-based index of the filter pair selected at the start.
    int FilterIndex = 1;
    QString InitialDir;
    QString FileName;
    // Extension without its dot, which the caller adds to a typed name that
    // has none; the dialog hands the name over as typed.
    QString DefaultExt;
};

// The file dialogs of the program go through this layer, so that tests can
// pick files without a modal window. It only lets the user pick a name; the
// checks and confirmations belong to the callers.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen file's path, or nothing when the user cancelled.
    virtual std::optional<QString> PickFile(const FileDialogRequest& request) = 0;
};

// The layer in use: Qt's file dialogs unless a replacement is installed.
FileDialogs& Dialogs();
// Installs a replacement and returns the previous one; nullptr restores Qt's.
std::unique_ptr<FileDialogs> SetDialogs(std::unique_ptr<FileDialogs> replacement);

// Turns a toolkit-style filter into Qt's name filters ("NET Files (*.net *.NET)").
// File names on Linux are case-sensitive, so every pattern is offered in
// lower and upper case as well.
QStringList QtNameFilters(const QString& filter);

} // namespace platform

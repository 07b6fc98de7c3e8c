#pragma once

#include "desktop/FileDialogs.h"

#include <QObject>
#include <QString>

// Options of the file dialogs, combined with '|'.
enum TOpenOption : unsigned {
    ofOverwritePrompt = 0x1, // ask before replacing an existing file
    ofHideReadOnly = 0x2,    // show no read-only check box
    ofPathMustExist = 0x4,   // the folder of the chosen file must exist
    ofFileMustExist = 0x8,   // the chosen file must exist
    ofCreatePrompt = 0x10,   // ask before a file that does not exist is created
};

// A file dialog that is not placed on the form: Execute shows it through the
// replaceable file-dialog layer, adds the default extension to a name typed
// without one, applies the checks and confirmations of Options (showing the
// dialog again when the user declines), and keeps the chosen path in FileName.
class TFileDialog : public QObject {
    Q_OBJECT
public:
    TFileDialog(platform::FileDialogRequest::Mode mode, QObject* owner);

    QString Title() const { return FTitle; }
    void SetTitle(const QString& value) { FTitle = value; }
    QString DefaultExt() const { return FDefaultExt; }
    void SetDefaultExt(const QString& value) { FDefaultExt = value; }
    QString Filter() const { return FFilter; }
    void SetFilter(const QString& value) { FFilter = value; }
    int FilterIndex() const { return FFilterIndex; }
    void SetFilterIndex(int value) { FFilterIndex = value; }
    QString InitialDir() const { return FInitialDir; }
    void SetInitialDir(const QString& value) { FInitialDir = value; }
    QString FileName() const { return FFileName; }
    void SetFileName(const QString& value) { FFileName = value; }
    unsigned Options() const { return FOptions; }
    void SetOptions(unsigned value) { FOptions = value; }

    // True when the user picked a file that passed the checks.
    bool Execute();

    // path with ".ext" added when its file name has no extension of its own.
    static QString WithDefaultExt(const QString& path, const QString& ext);
    // The file a typed path stands for on a file system where names differ
    // by case: a name with an extension of its own stays as typed; else, when
    // typedFirst holds and anything of that very name exists (a device or a
    // folder too, which the load then refuses with its reason), that; else
    // an existing file of the name with the extension in any case ("list"
    // finds "list.net" for the extension "NET"); else WithDefaultExt.
    static QString ResolveDefaultExt(const QString& path, const QString& ext, bool typedFirst);

private:
    // True when path may be taken; otherwise the user was told why or
    // declined, and the dialog is shown again.
    bool Acceptable(const QString& path) const;

    platform::FileDialogRequest::Mode FMode;
    QString FTitle;
    QString FDefaultExt;
    QString FFilter;
    int FFilterIndex = 1;
    QString FInitialDir;
    QString FFileName;
    unsigned FOptions = ofHideReadOnly;
};

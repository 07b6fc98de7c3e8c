#pragma once

#include "dialogs/TFileDialog.h"

// The dialog that picks a file to write.
class TSaveDialog : public TFileDialog {
    Q_OBJECT
public:
    explicit TSaveDialog(QObject* owner)
        : TFileDialog(platform::FileDialogRequest::Mode::Save, owner) {}
};

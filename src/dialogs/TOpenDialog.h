#pragma once

#include "dialogs/TFileDialog.h"

// The dialog that picks a file to read.
class TOpenDialog : public TFileDialog {
    Q_OBJECT
public:
    explicit TOpenDialog(QObject* owner)
        : TFileDialog(platform::FileDialogRequest::Mode::Open, owner) {}
};

#pragma once

#include "controls/ModalResult.h"

#include <QDialog>

class QKeyEvent;

// Where a form appears when it is first shown: where the window system puts
// it, or in the centre of its screen.
enum class TPosition { poDefault, poScreenCenter };

// Moves a top-level widget's frame into the centre of its screen.
void CentreOnScreen(QWidget* window);

// A form that can be shown modally and closes when it is given a modal
// result. Enter clicks the active button (the focused glyph button, else the
// default one), Esc clicks the cancel button; the close box and Esc without
// a cancel button close a modal form with mrCancel.
class TForm : public QDialog, public TModalForm {
    Q_OBJECT
public:
    explicit TForm(QWidget* owner = nullptr);

    // Shows the form modally and returns the modal result it closed with.
    int ShowModal();
    int ModalResult() const { return FModalResult; }
    // A non-zero result closes a modally shown form once the current event
    // (a click and its handler) has been handled; setting it back to mrNone
    // before then keeps the form open.
    void SetModalResult(int value) override;

    TPosition Position() const { return FPosition; }
    void SetPosition(TPosition value) { FPosition = value; }

    // The Enter and Esc handling of a form, for any top-level widget: returns
    // true when the key was used.
    static bool DialogKey(QWidget* form, QKeyEvent* event);

    void done(int result) override;
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CloseIfResult();

    TPosition FPosition = TPosition::poDefault;
    bool FPlaced = false;

    int FModalResult = mrNone;
    bool FCheckQueued = false;
};

#include "controls/TForm.h"

#include "controls/TCBitBtn.h"

#include <QKeyEvent>
#include <QMetaObject>
#include <QScreen>

void CentreOnScreen(QWidget* window) {
    if (QScreen* s = window->screen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

TForm::TForm(QWidget* owner) : QDialog(owner) {}

int TForm::ShowModal() {
    FModalResult = mrNone;
    exec();
    return FModalResult;
}

void TForm::SetModalResult(int value) {
    FModalResult = value;
    if (value == mrNone || FCheckQueued)
        return;
    // The form closes after the click that set the result has run its
    // handler, so the handler can still take the result back.
    FCheckQueued = true;
    QMetaObject::invokeMethod(
        this, [this] { CloseIfResult(); }, Qt::QueuedConnection);
}

void TForm::CloseIfResult() {
    FCheckQueued = false;
    if (FModalResult != mrNone && isVisible() && isModal())
        done(FModalResult);
}

void TForm::done(int result) {
    FModalResult = result;
    QDialog::done(result);
}

void TForm::reject() {
    done(mrCancel);
}

bool TForm::DialogKey(QWidget* form, QKeyEvent* event) {
    const auto mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods != Qt::NoModifier)
        return false;
    const int key = event->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    const bool esc = key == Qt::Key_Escape;
    if (!enter && !esc)
        return false;
    // Enter belongs to a focused button, which takes it itself.
    if (enter && qobject_cast<QPushButton*>(form->focusWidget()))
        return false;
    const auto buttons = form->findChildren<TCBitBtn*>();
    for (TCBitBtn* b : buttons) {
        if (b->window() != form || !b->isVisible() || !b->isEnabled())
            continue;
        if ((enter && b->Default()) || (esc && b->Cancel())) {
            b->click();
            return true;
        }
    }
    return false;
}

void TForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Placed once: a form shown again stays where the user left it.
    if (FPlaced)
        return;
    FPlaced = true;
    if (FPosition == TPosition::poScreenCenter)
        CentreOnScreen(this);
}

void TForm::keyPressEvent(QKeyEvent* event) {
    if (DialogKey(this, event)) {
        event->accept();
        return;
    }
    const auto mods = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Escape && mods == Qt::NoModifier) {
        // A modal form closes as by its close box; a form shown as a main
        // window stays.
        if (isModal())
            reject();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Without a default button Enter does nothing (QDialog would look
        // for a default push button of its own).
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

#include "desktop/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

namespace {

// Title of every box: the program's name as its windows write it, also for
// a box that comes before the application has a name of its own (Qt's
// default is the executable's file name, in lower case).
QString boxTitle() {
    return QStringLiteral("Netsonde");
}

// Shows a box modal to the window that asked and returns the button chosen.
int run(QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons,
        QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, boxTitle(), text, buttons, BoxOwner());
    // Texts carry file names, host names and the system's messages: shown
    // as written, never as markup whose links could be followed.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(box.parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return box.exec();
}

class QtMessageBoxes final : public MessageBoxes {
public:
    MsgAnswer ErrorAbortIgnore(const QString& text) override {
        return run(QMessageBox::Critical, text, QMessageBox::Abort | QMessageBox::Ignore,
                   QMessageBox::Abort) == QMessageBox::Ignore
                   ? MsgAnswer::Ignore
                   : MsgAnswer::Abort;
    }
    void Information(const QString& text) override {
        run(QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
    }
    void Plain(const QString& text) override {
        run(QMessageBox::NoIcon, text, QMessageBox::Ok, QMessageBox::Ok);
    }
    void Error(const QString& text) override {
        run(QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
    }
    MsgAnswer YesNo(const QString& text) override { return Question(text, QMessageBox::No); }
    MsgAnswer YesNoDefaultYes(const QString& text) override {
        return Question(text, QMessageBox::Yes);
    }

private:
    static MsgAnswer Question(const QString& text, QMessageBox::StandardButton defaultButton) {
        return run(QMessageBox::Warning, text, QMessageBox::Yes | QMessageBox::No, defaultButton) ==
                       QMessageBox::Yes
                   ? MsgAnswer::Yes
                   : MsgAnswer::No;
    }
};

} // namespace

QWidget* BoxOwner() {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

std::unique_ptr<MessageBoxes> ToolkitMessageBoxes() {
    return std::make_unique<QtMessageBoxes>();
}

void UseToolkitMessageBoxes() {
    SetDefaultMessages(&ToolkitMessageBoxes);
}

} // namespace platform

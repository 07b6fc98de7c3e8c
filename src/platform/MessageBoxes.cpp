#include "platform/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

namespace {

// Title of every box: the application's name, as the system's boxes show it.
QString boxTitle() {
    QString title = QApplication::applicationDisplayName();
    return title.isEmpty() ? QStringLiteral("Netsonde") : title;
}

class QtMessageBoxes final : public MessageBoxes {
public:
    MsgAnswer ErrorAbortIgnore(const QString& text) override {
        QMessageBox box(QMessageBox::Critical, boxTitle(), text,
                        QMessageBox::Abort | QMessageBox::Ignore);
        box.setDefaultButton(QMessageBox::Abort);
        return box.exec() == QMessageBox::Ignore ? MsgAnswer::Ignore : MsgAnswer::Abort;
    }
    void Information(const QString& text) override {
        QMessageBox::information(nullptr, boxTitle(), text);
    }
    void Plain(const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, boxTitle(), text, QMessageBox::Ok);
        box.exec();
    }
};

std::unique_ptr<MessageBoxes>& current() {
    static std::unique_ptr<MessageBoxes> layer = std::make_unique<QtMessageBoxes>();
    return layer;
}

} // namespace

MessageBoxes& Messages() {
    return *current();
}

std::unique_ptr<MessageBoxes> SetMessages(std::unique_ptr<MessageBoxes> replacement) {
    std::unique_ptr<MessageBoxes> previous = std::move(current());
    current() = replacement ? std::move(replacement) : std::make_unique<QtMessageBoxes>();
    return previous;
}

} // namespace platform

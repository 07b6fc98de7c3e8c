#include "desktop/MessageBoxes.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

namespace {

// What the box on screen looked like when it came up.
struct Seen {
    QWidget* owner = nullptr;
    Qt::WindowModality modality = Qt::NonModal;
    QString defaultButton;
};

// Looks at the box once it is up and answers it with Enter.
void AnswerWithEnter(Seen& seen) {
    QTimer::singleShot(0, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen.owner = box->parentWidget();
        seen.modality = box->windowModality();
        if (QPushButton* b = box->defaultButton())
            seen.defaultButton = b->text().remove('&');
        QTest::keyClick(box, Qt::Key_Return);
    });
}

TEST(MessageBoxes, BoxBelongsToTheAskingWindowAndEnterTakesTheDefault) {
    // The layer's own boxes, not a test's replacement.
    auto replaced = platform::SetMessages(nullptr);
    QWidget window;
    window.show();
    // The window asks each question while it is the active one.
    auto activate = [&window] {
        QApplication::setActiveWindow(&window);
        return QApplication::activeWindow() == &window;
    };

    Seen create;
    ASSERT_TRUE(activate());
    AnswerWithEnter(create);
    EXPECT_EQ(platform::Messages().YesNoDefaultYes("Do you want to create it?"),
              platform::MsgAnswer::Yes);
    EXPECT_EQ(create.owner, &window);
    EXPECT_EQ(create.modality, Qt::WindowModal);
    EXPECT_EQ(create.defaultButton, "Yes");

    Seen replace;
    ASSERT_TRUE(activate());
    AnswerWithEnter(replace);
    EXPECT_EQ(platform::Messages().YesNo("Do you want to replace it?"), platform::MsgAnswer::No);
    EXPECT_EQ(replace.owner, &window);
    EXPECT_EQ(replace.defaultButton, "No");

    platform::SetMessages(std::move(replaced));
}

// A file name is shown as it is written in every kind of box: markup in it
// is neither drawn nor made into links. Every box has the program's name as
// its title, whatever the executable is called.
TEST(MessageBoxes, NamesAreShownAsWrittenUnderTheProgramsTitle) {
    auto replaced = platform::SetMessages(nullptr);
    const QString name = QStringLiteral(
        "<font size=6 color=red>Infected!</font><br><a href=\"https://example.invalid/\">here</a>"
        "<img src=\"/etc/x.png\">&amp;x.nsd");
    const QString text = QStringLiteral("Cannot open \"%1\".").arg(name);
    const std::pair<const char*, std::function<void()>> kinds[] = {
        {"Error", [&] { platform::Messages().Error(text); }},
        {"Information", [&] { platform::Messages().Information(text); }},
        {"Plain", [&] { platform::Messages().Plain(text); }},
        {"ErrorAbortIgnore", [&] { platform::Messages().ErrorAbortIgnore(text); }},
        {"YesNo", [&] { platform::Messages().YesNo(text); }},
        {"YesNoDefaultYes", [&] { platform::Messages().YesNoDefaultYes(text); }},
    };
    for (const auto& [kind, show] : kinds) {
        SCOPED_TRACE(kind);
        QString title, shown;
        bool asWritten = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            ASSERT_NE(label, nullptr);
            shown = label->text();
            asWritten = label->textFormat() == Qt::PlainText ||
                        (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(shown));
            QTest::keyClick(box, Qt::Key_Return);
        });
        show();
        EXPECT_EQ(title, "Netsonde");
        EXPECT_EQ(shown, text);
        EXPECT_TRUE(asWritten) << "the name is drawn as markup";
    }
    platform::SetMessages(std::move(replaced));
}

} // namespace

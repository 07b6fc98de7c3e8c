#include "desktop/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
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

} // namespace

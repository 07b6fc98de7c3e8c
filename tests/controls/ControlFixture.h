#pragma once

#include "controls/SystemColors.h"

#include <QApplication>
#include <QEnterEvent>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

namespace netsonde::test {

// A shown, active window under the classic colours, for tests of controls
// that react to focus and the mouse pointer.
class ControlFixture : public ::testing::Test {
protected:
    void SetUp() override {
        FSavedPalette = QApplication::palette();
        QApplication::setPalette(ClassicPalette());
        window = std::make_unique<QWidget>();
        window->resize(400, 300);
    }
    void TearDown() override {
        window.reset();
        QApplication::setPalette(FSavedPalette);
    }

    // Shows the window and makes it the active one, so that focus changes
    // are delivered.
    void ShowActive() {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    static void Enter(QWidget* w) {
        const QPointF at(2, 2);
        QEnterEvent event(at, w->mapTo(w->window(), at), w->mapToGlobal(at));
        QApplication::sendEvent(w, &event);
    }
    static void Leave(QWidget* w) {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(w, &event);
    }

    std::unique_ptr<QWidget> window;

private:
    QPalette FSavedPalette;
};

inline constexpr QRgb kFace = 0xFFC0C0C0, kWhite = 0xFFFFFFFF, kBlack = 0xFF000000,
                      kSelection = 0xFF000080;

} // namespace netsonde::test

#include <QApplication>
#include <gtest/gtest.h>

#include "support/PrivateNetwork.h"

// One main for every test program: tests of components and widgets need a
// QApplication with a real event loop, on the offscreen platform so that no
// display is needed. A program that asks for its own network namespace gets
// it before any thread exists.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    netsonde::test::EnterRequestedNetwork();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

#include <QApplication>
#include <gtest/gtest.h>

#include "desktop/MessageBoxes.h"
#include "history/TSqlThread.h"
#include "support/PrivateNetwork.h"
#include "support/TestNetwork.h"

// One main for every test program: tests of components and widgets need a
// QApplication with a real event loop, on the offscreen platform so that no
// display is needed. A program that asks for its own network namespace gets
// it before any thread exists, and a program that asks for the routed test
// network runs inside it until it ends.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    netsonde::test::EnterRequestedNetwork();
    netsonde::test::EnterRequestedTestNetwork(GTEST_FLAG_GET(list_tests));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    int result = 0;
    {
        QApplication app(argc, argv);
        platform::UseToolkitMessageBoxes();
        result = RUN_ALL_TESTS();
        // History workers of stores destroyed by the tests end while the
        // application is whole, as the program's own end waits for them.
        history::TSqlThread::WaitForEnded(10000);
    }
    netsonde::test::LeaveTestNetwork();
    return result;
}

#include "desktop/MessageBoxes.h"
#include "platform/Messages.h"
#include "support/FakeMessageBoxes.h"

#include <gtest/gtest.h>

namespace {

using platform::MsgAnswer;

// Restores the toolkit's boxes as the default however a test ends.
struct ToolkitDefaultAfterwards {
    ~ToolkitDefaultAfterwards() {
        platform::SetMessages(nullptr);
        platform::UseToolkitMessageBoxes();
    }
};

TEST(MessageLayers, WithoutADesktopMessagesGoToStandardErrorAndEnterAnswers) {
    ToolkitDefaultAfterwards restore;
    platform::SetDefaultMessages(nullptr);
    platform::SetMessages(nullptr);

    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::Messages().ErrorAbortIgnore("Socket library failed"), MsgAnswer::Abort);
    EXPECT_EQ(platform::Messages().YesNo("Replace it?"), MsgAnswer::No);
    EXPECT_EQ(platform::Messages().YesNoDefaultYes("Create it?"), MsgAnswer::Yes);
    platform::Messages().Information("Ping Error 11010 Request timed out.");
    const std::string written = testing::internal::GetCapturedStderr();

    EXPECT_EQ(written, "Netsonde error: Socket library failed\n"
                       "Netsonde question: Replace it?\n"
                       "Netsonde question: Create it?\n"
                       "Netsonde information: Ping Error 11010 Request timed out.\n");
}

TEST(MessageLayers, ChoosingTheDefaultKeepsAnInstalledReplacement) {
    ToolkitDefaultAfterwards restore;
    netsonde::test::FakeMessageBoxes boxes;
    platform::SetDefaultMessages(nullptr);
    platform::Messages().Information("still recorded");
    platform::UseToolkitMessageBoxes();
    platform::Messages().Plain("and this");
    EXPECT_EQ(boxes.shown, QStringList({"information: still recorded", "plain: and this"}));
}

TEST(MessageLayers, RemovingTheReplacementBringsBackTheChosenDefault) {
    ToolkitDefaultAfterwards restore;
    platform::SetDefaultMessages(nullptr);
    {
        netsonde::test::FakeMessageBoxes boxes;
        platform::Messages().Error("recorded");
        EXPECT_EQ(boxes.shown, QStringList({"error: recorded"}));
    }
    platform::SetMessages(nullptr);
    testing::internal::CaptureStderr();
    platform::Messages().Error("written");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Netsonde error: written\n");
}

} // namespace

#include "echo/IcmpBinding.h"
#include "echo/AxIcmp.h"
#include "support/FakeIcmpService.h"
#include "support/FakeMessageBoxes.h"

#include <gtest/gtest.h>

using namespace netsonde::test;
using platform::MsgAnswer;

TEST(IcmpBinding, LoadsWhenTheServiceIsThere) {
    FakeIcmpService service;
    FakeMessageBoxes boxes;
    {
        IcmpBindingScope binding;
        EXPECT_TRUE(IcmpAvailable());
        EXPECT_EQ(IcmpLoadCount(), 1);
        IcmpBindingScope again;
        EXPECT_EQ(IcmpLoadCount(), 2) << "a second binding only counts";
    }
    EXPECT_EQ(IcmpLoadCount(), 0);
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST(IcmpBinding, MissingLibraryAnsweredWithIgnoreDisablesTheService) {
    FakeIcmpService service;
    service.SetMissingLibrary(true);
    FakeMessageBoxes boxes;
    boxes.AnswerNext(MsgAnswer::Ignore);
    IcmpBindingScope binding;
    EXPECT_FALSE(IcmpAvailable());
    EXPECT_EQ(IcmpLoadCount(), 1) << "counted also after a failure";
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0], "error: Unable to find icmp.dll\nfake service: no library");
    EXPECT_EQ(IcmpCreateFile(), InvalidIcmpHandle);
}

TEST(IcmpBinding, MissingEntryPointsAreReportedByTheirOwnText) {
    for (const char* entry : {"IcmpCreateFile", "IcmpCloseHandle", "IcmpSendEcho"}) {
        FakeIcmpService service;
        service.SetMissingEntry(entry);
        FakeMessageBoxes boxes;
        IcmpBindingScope binding;
        EXPECT_FALSE(IcmpAvailable()) << entry;
        EXPECT_EQ(boxes.shown, QStringList{"error: Unable to load functions from icmp.dll"});
    }
}

TEST(IcmpBindingDeathTest, AbortEndsTheProgram) {
    EXPECT_EXIT(
        {
            FakeIcmpService service;
            service.SetMissingLibrary(true);
            FakeMessageBoxes boxes;
            boxes.AnswerNext(MsgAnswer::Abort);
            IcmpStartupBinding();
            std::fprintf(stderr, "still running\n");
        },
        testing::ExitedWithCode(3), "");
    EXPECT_EXIT(
        {
            FakeIcmpService service;
            service.SetMissingEntry("IcmpSendEcho");
            FakeMessageBoxes boxes;
            boxes.AnswerNext(MsgAnswer::Abort);
            IcmpStartupBinding();
            std::fprintf(stderr, "still running\n");
        },
        testing::ExitedWithCode(3), "");
}

TEST(EchoRequest, SendsPacketSizeBytesOfAAWithRoomForTheReply) {
    FakeIcmpService service;
    service.SetAnswer("10.0.0.1", FakeAnswer::Echo("10.0.0.1", 4, 120));
    IcmpBindingScope binding;
    IcmpHandle h = IcmpCreateFile();
    TIpOptions options;
    options.Ttl = 7;
    TEchoReply reply;
    ASSERT_EQ(EchoRequest(h, options, reply, Ip("10.0.0.1"), 8, 1000), 0);
    IcmpCloseHandle(h);
    ASSERT_EQ(service.Requests().size(), 1u);
    FakeRequest r = service.Requests()[0];
    EXPECT_EQ(r.size, 8);
    EXPECT_TRUE(r.allAA);
    EXPECT_EQ(r.replySize, 36u);
    EXPECT_EQ(r.ttl, 7);
    EXPECT_EQ(r.timeout, 1000u);
    EXPECT_EQ(reply.Status, 0u);
    EXPECT_EQ(reply.RoundTripTime, 4u);
    EXPECT_EQ(reply.DataSize, 8);
    EXPECT_EQ(reply.Options.Ttl, 120);
    EXPECT_EQ(service.OpenHandles(), 0);
}

TEST(EchoRequest, NoAnswerReturnsTheLastErrorAndLeavesTheReplyAlone) {
    FakeIcmpService service;
    IcmpBindingScope binding;
    IcmpHandle h = IcmpCreateFile();
    TEchoReply reply;
    reply.Address = 0x01020304;
    reply.RoundTripTime = 77;
    EXPECT_EQ(EchoRequest(h, TIpOptions{}, reply, Ip("10.0.0.2"), 56, 100), 11010);
    EXPECT_EQ(reply.Address, 0x01020304u);
    EXPECT_EQ(reply.RoundTripTime, 77u);
    IcmpCloseHandle(h);
}

TEST(EchoRequest, OversizedRequestsAreRefusedNotCutShort) {
    FakeIcmpService service;
    service.SetDefault(FakeAnswer::Echo("10.0.0.3"));
    IcmpBindingScope binding;
    IcmpHandle h = IcmpCreateFile();
    TEchoReply reply;
    EXPECT_EQ(EchoRequest(h, TIpOptions{}, reply, Ip("10.0.0.3"), 70000, 100), 11009);
    EXPECT_TRUE(service.Requests().empty());
    EXPECT_EQ(EchoRequest(h, TIpOptions{}, reply, Ip("10.0.0.3"), 65535, 100), 0);
    IcmpCloseHandle(h);
}

TEST(IcmpStatusText, TableAndGaps) {
    EXPECT_EQ(IcmpStatusText(0), "Success");
    EXPECT_EQ(IcmpStatusText(11010), "Request timed out");
    EXPECT_EQ(IcmpStatusText(11013), "TTL expired in transit");
    EXPECT_EQ(IcmpStatusText(11050), "General failure");
    for (int code : {11023, 11049, 11051, 1, -1, 11000})
        EXPECT_TRUE(IcmpStatusText(code).isEmpty()) << code;
}

// The start-up box's advice when no ICMP socket can be opened: each command
// on a line of its own, ready to paste, naming the program file that runs.
#include "platform/IcmpLibrary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

TEST(IcmpLibraryReason, CommandsCanBePastedAndNameTheRunningProgram) {
    const std::string reason = platform::IcmpProvider().Reason();
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_NE(reason.find("\nsudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"),
              std::string::npos)
        << reason;
    EXPECT_TRUE(reason.ends_with("\nsudo setcap cap_net_raw+ep " + self)) << reason;
}

} // namespace

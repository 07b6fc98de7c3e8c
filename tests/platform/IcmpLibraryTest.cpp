// The start-up box's advice when no ICMP socket can be opened: each command
// on a line of its own, ready to paste, and never a capability for the
// program file itself.
#include "platform/IcmpLibrary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <pwd.h>
#include <unistd.h>

namespace {

TEST(IcmpLibraryReason, CommandsCanBePastedAndNeverGiveTheProgramACapability) {
    const std::string reason = platform::IcmpProvider().Reason();
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_NE(reason.find("\nsudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"),
              std::string::npos)
        << reason;
    // No helper beside a test program: the advice is the group of the
    // installed one, for the user who runs the program.
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    EXPECT_TRUE(reason.ends_with(std::string("\nsudo adduser ") + user->pw_name + " netsonde"))
        << reason;
    EXPECT_EQ(reason.find(self), std::string::npos) << reason;
}

} // namespace

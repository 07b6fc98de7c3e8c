#pragma once

#include "echo/IcmpBinding.h"
#include "platform/IcmpService.h"
#include "support/TestNetwork.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace netsonde::test {

// A fixture that runs each test in the routed test network on the socket
// kind it is given, through the bound echo library; skipped outside the
// network.
class RoutedNetworkOfEachKind : public testing::TestWithParam<platform::linuxicmp::SocketKind> {
protected:
    void SetUp() override {
        if (!InTestNetwork()) {
            GTEST_SKIP() << TestNetworkProblem();
        }
        platform::linuxicmp::PreferRawSockets(GetParam() == platform::linuxicmp::SocketKind::Raw);
        binding.emplace();
        ASSERT_TRUE(IcmpAvailable());
    }
    void TearDown() override {
        binding.reset();
        platform::linuxicmp::PreferRawSockets(false);
    }

    template <class Reply> struct Outcome {
        int status;
        Reply reply;
    };
    // One echo on a new handle from create, which must be of the kind under
    // test, with the given time-to-live (hop limit): send(handle, options,
    // reply) makes the call and returns its status.
    template <class Reply, class Create, class Send>
    Outcome<Reply> EchoOnNewHandle(Create create, std::uint8_t ttl, Send send) {
        IcmpHandle h = create();
        EXPECT_NE(h, InvalidIcmpHandle);
        EXPECT_EQ(platform::linuxicmp::HandleSocketKind(h), GetParam());
        TIpOptions options;
        options.Ttl = ttl;
        Outcome<Reply> r{};
        r.status = send(h, options, r.reply);
        IcmpCloseHandle(h);
        return r;
    }

    std::optional<IcmpBindingScope> binding;
};

} // namespace netsonde::test

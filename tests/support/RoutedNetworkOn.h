#pragma once

#include "echo/IcmpBinding.h"
#include "platform/IcmpService.h"
#include "support/IpFamily.h"
#include "support/TestNetwork.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>

namespace netsonde::test {

// The bound library's calls (echo/IcmpBinding.h) for each family: a new
// handle, and one echo of size bytes to a literal.
inline IcmpHandle BoundCreate(const Family4&) {
    return IcmpCreateFile();
}
inline IcmpHandle BoundCreate(const Family6&) {
    return Icmp6CreateFile();
}
inline int BoundEcho(IcmpHandle h, const TIpOptions& options, TEchoReply& reply, const char* to,
                     int size, std::uint16_t timeout) {
    return EchoRequest(h, options, reply, Family4::Service(to), size, timeout);
}
inline int BoundEcho(IcmpHandle h, const TIpOptions& options, TEcho6Reply& reply, const char* to,
                     int size, std::uint16_t timeout) {
    return Echo6Request(h, options, reply, Family6::Service(to), size, timeout);
}

// A typed fixture that runs each test in the routed test network on the
// family and socket kind of T (support/IpFamily.h: OnSocket), through the
// bound echo library; skipped outside the network.
template <class T> class RoutedNetworkOn : public testing::Test {
protected:
    void SetUp() override {
        if (!InTestNetwork()) {
            GTEST_SKIP() << TestNetworkProblem();
        }
        platform::linuxicmp::PreferRawSockets(T::Kind == platform::linuxicmp::SocketKind::Raw);
        binding.emplace();
        ASSERT_TRUE(IcmpAvailable());
    }
    void TearDown() override {
        binding.reset();
        platform::linuxicmp::PreferRawSockets(false);
    }

    struct Outcome {
        int status;
        typename T::Reply reply;
        // Whether the call left the reply record as it was.
        bool untouched;
    };
    // One echo of 56 bytes to the literal to on a new handle of the family,
    // which must be of the kind under test, with the given time-to-live
    // (hop limit).
    static Outcome Echo(const char* to, std::uint8_t ttl, std::uint16_t timeout = 1000) {
        IcmpHandle h = BoundCreate(T{});
        EXPECT_NE(h, InvalidIcmpHandle);
        EXPECT_EQ(platform::linuxicmp::HandleSocketKind(h), T::Kind);
        TIpOptions options;
        options.Ttl = ttl;
        Outcome r{};
        std::memset(static_cast<void*>(&r.reply), 0xEE, sizeof r.reply);
        const typename T::Reply before = r.reply;
        r.status = BoundEcho(h, options, r.reply, to, 56, timeout);
        r.untouched = std::memcmp(&before, &r.reply, sizeof before) == 0;
        IcmpCloseHandle(h);
        return r;
    }

    std::optional<IcmpBindingScope> binding;
};

} // namespace netsonde::test

#pragma once

#include "platform/IcmpService.h"
#include "platform/LastError.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace netsonde::test {

// What one echo call gave: its count, the last error, the reply record
// and the data after it in the reply buffer.
template <class Reply> struct EchoCall {
    std::uint32_t count = 0;
    std::uint32_t error = 0;
    Reply reply;
    std::vector<std::uint8_t> data;
};

// Makes one echo call of size bytes of fill with the given time-to-live
// (hop limit): call(request, size, options, buffer, bufferSize) returns the
// count of the service function under test.
template <class Reply, class Call>
EchoCall<Reply> CallEcho(std::uint16_t size, std::uint8_t ttl, std::uint8_t fill, Call call) {
    std::vector<std::uint8_t> request(size, fill);
    std::vector<std::uint8_t> buffer(size + sizeof(Reply));
    TIpOptions options;
    options.Ttl = ttl;
    EchoCall<Reply> e;
    e.count = call(request.data(), size, &options, buffer.data(),
                   static_cast<std::uint32_t>(buffer.size()));
    e.error = platform::GetLastError();
    std::memcpy(&e.reply, buffer.data(), sizeof e.reply);
    e.data.assign(buffer.begin() + sizeof(Reply), buffer.end());
    return e;
}

// A typed fixture that runs each test on a handle of the family and socket
// kind of T (support/IpFamily.h: OnSocket), from the family's service;
// skipped where that kind cannot be opened.
template <class T> class HandleOn : public testing::Test {
protected:
    void SetUp() override {
        platform::linuxicmp::PreferRawSockets(T::Kind == platform::linuxicmp::SocketKind::Raw);
        handle = T::Create();
        if (handle == InvalidIcmpHandle ||
            platform::linuxicmp::HandleSocketKind(handle) != T::Kind) {
            GTEST_SKIP() << "this kind of " << T::Name() << " ICMP socket cannot be opened here";
        }
    }
    void TearDown() override {
        if (handle != InvalidIcmpHandle) {
            EXPECT_TRUE(platform::linuxicmp::IcmpCloseHandle(handle));
        }
        platform::linuxicmp::PreferRawSockets(false);
    }
    // One echo of size bytes of fill on h to the literal to.
    static EchoCall<typename T::Reply> Send(IcmpHandle h, const char* to, std::uint16_t size,
                                            std::uint8_t ttl = 32, std::uint32_t timeout = 2000,
                                            std::uint8_t fill = 0xAA) {
        return CallEcho<typename T::Reply>(size, ttl, fill, [&](auto... request) {
            return T::SendEcho(h, to, request..., timeout);
        });
    }
    IcmpHandle handle = InvalidIcmpHandle;
};

} // namespace netsonde::test

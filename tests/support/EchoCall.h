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

// A fixture that runs each test on a handle of the socket kind it is
// given, from create; skipped where that kind cannot be opened.
class HandleOfEachKind : public testing::TestWithParam<platform::linuxicmp::SocketKind> {
protected:
    HandleOfEachKind(IcmpHandle (*create)(), const char* protocol)
        : create(create), protocol(protocol) {}
    void SetUp() override {
        platform::linuxicmp::PreferRawSockets(GetParam() == platform::linuxicmp::SocketKind::Raw);
        handle = create();
        if (handle == InvalidIcmpHandle ||
            platform::linuxicmp::HandleSocketKind(handle) != GetParam()) {
            GTEST_SKIP() << "this kind of " << protocol << " socket cannot be opened here";
        }
    }
    void TearDown() override {
        if (handle != InvalidIcmpHandle) {
            EXPECT_TRUE(platform::linuxicmp::IcmpCloseHandle(handle));
        }
        platform::linuxicmp::PreferRawSockets(false);
    }
    IcmpHandle handle = InvalidIcmpHandle;

private:
    IcmpHandle (*create)();
    const char* protocol;
};

} // namespace netsonde::test

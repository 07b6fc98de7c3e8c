#include "PacketFuzz.h"

#include "platform/IcmpPacket.h"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <vector>

using namespace platform::icmppacket;

namespace netsonde::fuzz {

namespace {

// The request every input is read against: 56 bytes of 0xAA to 10.61.4.2
// (network byte order), identifier 0x1234, sequence 0x5678.
const std::vector<std::uint8_t> kData(56, 0xAA);
constexpr std::uint32_t kDestination = 0x02043D0Au;

Request request(bool checkIdent) {
    Request r;
    r.destination = kDestination;
    r.ident = 0x1234;
    r.sequence = 0x5678;
    r.checkIdent = checkIdent;
    r.data = kData;
    return r;
}

void require(bool condition) {
    if (!condition)
        std::abort();
}

// An accepted echo reply must come from the destination and carry exactly
// the data that was sent, inside the bytes received.
void checkAnswer(const Result& r, std::span<const std::uint8_t> bytes) {
    if (r.verdict != Verdict::Answer)
        return;
    require(r.dataOffset <= bytes.size() && r.dataLength <= bytes.size() - r.dataOffset);
    if (r.status == 0) {
        require(r.address == kDestination);
        require(r.dataLength == kData.size());
        require(std::equal(kData.begin(), kData.end(), bytes.begin() + r.dataOffset));
    } else {
        require(r.status >= 11001 && r.status <= 11050);
        require(r.dataLength == 0);
    }
}

} // namespace

int RawPacket(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    checkAnswer(ParseRawPacket(bytes, request(true)), bytes);
    return 0;
}

int DatagramReply(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint32_t senders[] = {kDestination, 0x0204A8C0u, 0};
    std::uint32_t source = senders[data[0] % 3];
    std::span<const std::uint8_t> bytes(data + 1, size - 1);
    checkAnswer(ParseDatagramReply(bytes, source, 64, 0, request(false)), bytes);
    return 0;
}

int ErrorQueue(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    std::size_t controlSize = std::min<std::size_t>(data[0], size - 1);
    // The control data is copied to a buffer aligned as the kernel's is.
    std::vector<std::uint64_t> aligned((controlSize + 7) / 8);
    std::copy(data + 1, data + 1 + controlSize, reinterpret_cast<std::uint8_t*>(aligned.data()));
    Control c = ParseControl({reinterpret_cast<const std::uint8_t*>(aligned.data()), controlSize});
    c.error.quotedDestination = kDestination;
    std::span<const std::uint8_t> quoted(data + 1 + controlSize, size - 1 - controlSize);
    Result r = ParseErrorQueue(quoted, c.error, request(false));
    if (r.verdict == Verdict::Answer) {
        require(c.error.present);
        require(r.status >= 11001 && r.status <= 11050);
        require(quoted.size() >= EchoHeaderSize && quoted[0] == EchoRequest);
    }
    return 0;
}

namespace {

// The IPv6 request: the same data to fd00:61:4::2, the same numbers.
constexpr Address6 kDestination6 = {0xfd, 0, 0, 0x61, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};

Request6 request6(bool checkIdent) {
    Request6 r;
    r.destination = kDestination6;
    r.ident = 0x1234;
    r.sequence = 0x5678;
    r.checkIdent = checkIdent;
    r.data = kData;
    return r;
}

void checkAnswer6(const Result6& r, std::span<const std::uint8_t> bytes) {
    if (r.verdict != Verdict::Answer)
        return;
    require(r.dataOffset <= bytes.size() && r.dataLength <= bytes.size() - r.dataOffset);
    if (r.status == 0) {
        require(r.address == kDestination6);
        require(r.dataLength == kData.size());
        require(std::equal(kData.begin(), kData.end(), bytes.begin() + r.dataOffset));
    } else {
        require(r.status >= 11001 && r.status <= 11050);
        require(r.dataLength == 0);
    }
}

} // namespace

int Icmp6Message(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    Address6 router = kDestination6;
    router[15] = 1;
    const Address6 senders[] = {kDestination6, router, Address6{}};
    Address6 source = senders[data[0] % 3];
    std::span<const std::uint8_t> bytes(data + 1, size - 1);
    checkAnswer6(ParseIcmp6Message(bytes, source, 64, 0, request6(data[0] & 0x80)), bytes);
    return 0;
}

int ErrorQueue6(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    std::size_t controlSize = std::min<std::size_t>(data[0], size - 1);
    std::vector<std::uint64_t> aligned((controlSize + 7) / 8);
    std::copy(data + 1, data + 1 + controlSize, reinterpret_cast<std::uint8_t*>(aligned.data()));
    Control c = ParseControl({reinterpret_cast<const std::uint8_t*>(aligned.data()), controlSize});
    c.error.quotedDestination6 = kDestination6;
    std::span<const std::uint8_t> quoted(data + 1 + controlSize, size - 1 - controlSize);
    Result6 r = ParseErrorQueue6(quoted, c.error, request6(false));
    if (r.verdict == Verdict::Answer) {
        require(c.error.present);
        require(r.status >= 11001 && r.status <= 11050);
        require(quoted.size() >= EchoHeaderSize && quoted[0] == Echo6Request);
    }
    return 0;
}

} // namespace netsonde::fuzz

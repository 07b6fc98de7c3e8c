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
// (network byte order) or fd00:61:4::2, identifier 0x1234, sequence 0x5678.
const std::vector<std::uint8_t> kData(56, 0xAA);
constexpr std::uint32_t kDestination = 0x02043D0Au;
constexpr Address6 kDestination6 = {0xfd, 0, 0, 0x61, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};

template <class Req, class Address> Req numbered(const Address& destination, bool checkIdent) {
    Req r;
    r.destination = destination;
    r.ident = 0x1234;
    r.sequence = 0x5678;
    r.checkIdent = checkIdent;
    r.data = kData;
    return r;
}

Request request(bool checkIdent) {
    return numbered<Request>(kDestination, checkIdent);
}

Request6 request6(bool checkIdent) {
    return numbered<Request6>(kDestination6, checkIdent);
}

void require(bool condition) {
    if (!condition)
        std::abort();
}

// An accepted echo reply must come from the destination and carry exactly
// the data that was sent, inside the bytes received.
template <class R, class Address>
void checkAnswer(const R& r, std::span<const std::uint8_t> bytes, const Address& destination) {
    if (r.verdict != Verdict::Answer)
        return;
    require(r.dataOffset <= bytes.size() && r.dataLength <= bytes.size() - r.dataOffset);
    if (r.status == 0) {
        require(r.address == destination);
        require(r.dataLength == kData.size());
        require(std::equal(kData.begin(), kData.end(), bytes.begin() + r.dataOffset));
    } else {
        require(r.status >= 11001 && r.status <= 11050);
        require(r.dataLength == 0);
    }
}

// An error-queue input: the first byte gives the length of the control
// data that follows, the rest is the quoted echo header and data. parse
// reads the quoted bytes with the record; an accepted error must come from
// the record and quote an echo request of the family.
template <class Parse>
void errorQueue(const std::uint8_t* data, std::size_t size, std::uint8_t echoRequest, Parse parse) {
    if (size < 1)
        return;
    std::size_t controlSize = std::min<std::size_t>(data[0], size - 1);
    // The control data is copied to a buffer aligned as the kernel's is.
    std::vector<std::uint64_t> aligned((controlSize + 7) / 8);
    std::copy(data + 1, data + 1 + controlSize, reinterpret_cast<std::uint8_t*>(aligned.data()));
    Control c = ParseControl({reinterpret_cast<const std::uint8_t*>(aligned.data()), controlSize});
    std::span<const std::uint8_t> quoted(data + 1 + controlSize, size - 1 - controlSize);
    auto r = parse(quoted, c.error);
    if (r.verdict == Verdict::Answer) {
        require(c.error.present);
        require(r.status >= 11001 && r.status <= 11050);
        require(quoted.size() >= EchoHeaderSize && quoted[0] == echoRequest);
    }
}

} // namespace

int RawPacket(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    checkAnswer(ParseRawPacket(bytes, request(true)), bytes, kDestination);
    return 0;
}

int DatagramReply(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint32_t senders[] = {kDestination, 0x0204A8C0u, 0};
    std::uint32_t source = senders[data[0] % 3];
    std::span<const std::uint8_t> bytes(data + 1, size - 1);
    checkAnswer(ParseDatagramReply(bytes, source, 64, 0, request(false)), bytes, kDestination);
    return 0;
}

int ErrorQueue(const std::uint8_t* data, std::size_t size) {
    errorQueue(data, size, EchoRequest,
               [](std::span<const std::uint8_t> quoted, ErrorRecord& record) {
                   record.quotedDestination = kDestination;
                   return ParseErrorQueue(quoted, record, request(false));
               });
    return 0;
}

int Icmp6Message(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    Address6 router = kDestination6;
    router[15] = 1;
    const Address6 senders[] = {kDestination6, router, Address6{}};
    Address6 source = senders[data[0] % 3];
    std::span<const std::uint8_t> bytes(data + 1, size - 1);
    checkAnswer(ParseIcmp6Message(bytes, source, 64, 0, request6(data[0] & 0x80)), bytes,
                kDestination6);
    return 0;
}

int ErrorQueue6(const std::uint8_t* data, std::size_t size) {
    errorQueue(data, size, Echo6Request,
               [](std::span<const std::uint8_t> quoted, ErrorRecord& record) {
                   record.quotedDestination6 = kDestination6;
                   return ParseErrorQueue6(quoted, record, request6(false));
               });
    return 0;
}

} // namespace netsonde::fuzz

// libFuzzer entry for one packet parser.
#include "PacketFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return netsonde::fuzz::Icmp6Message(data, size);
}

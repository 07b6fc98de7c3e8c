// libFuzzer entry for one packet parser of PacketFuzz.h, named when the
// target is built (NETSONDE_FUZZ_PARSER): one executable per parser.
#include "PacketFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return netsonde::fuzz::NETSONDE_FUZZ_PARSER(data, size);
}

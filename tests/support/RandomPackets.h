#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <random>
#include <vector>

namespace netsonde::test {

// Hands feed `count` inputs from a generator started at seed: every other
// one is one of the seeds in turn with one to four bytes changed at random
// (and one time in four cut short), the rest are up to 199 random bytes.
inline void FeedRandomPackets(std::uint32_t seed,
                              std::initializer_list<std::vector<std::uint8_t>> seeds, int count,
                              const std::function<void(const std::vector<std::uint8_t>&)>& feed) {
    std::mt19937 random(seed);
    const std::vector<std::vector<std::uint8_t>> valid(seeds);
    for (int i = 0; i < count; ++i) {
        std::vector<std::uint8_t> input;
        if (i % 2 == 0) {
            input = valid[(i / 2) % valid.size()];
            int changes = 1 + static_cast<int>(random() % 4);
            for (int k = 0; k < changes; ++k)
                input[random() % input.size()] = static_cast<std::uint8_t>(random());
            if (random() % 4 == 0)
                input.resize(random() % input.size());
        } else {
            input.resize(random() % 200);
            for (auto& b : input)
                b = static_cast<std::uint8_t>(random());
        }
        feed(input);
    }
}

} // namespace netsonde::test

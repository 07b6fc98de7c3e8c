#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace paths {

// The figures of a series of round trips, in milliseconds.
struct RttFigures {
    std::uint64_t answers = 0;
    double lastMs = 0;
    double bestMs = 0;
    double worstMs = 0;
    double meanMs = 0;
    double stdevMs = 0;  // population standard deviation of every answer
    double jitterMs = 0; // mean absolute difference of consecutive round trips
    double medianMs = 0; // over the last RttStats::RingSize answers
    double p95Ms = 0;    // likewise
};

// Round trips as they come in. Last, best, worst, mean, standard deviation
// and jitter cover every answer since the series began; median and 95th
// percentile the last RingSize answers, kept in a ring. All figures are 0
// while there is no answer; jitter is 0 until the second one.
//
// The median is the middle answer of the ring sorted, or the mean of the two
// middle ones; the 95th percentile is the nearest-rank one: the smallest
// answer with at least 95 % of the ring at or below it.
class RttStats {
public:
    static constexpr std::size_t RingSize = 100;

    void Add(double ms);
    RttFigures Figures() const;
    // The round trips the ring holds (the last RingSize), oldest first.
    std::vector<double> Recent() const;
    std::uint64_t Answers() const { return FCount; }
    double LastMs() const { return FLast; }

private:
    std::uint64_t FCount = 0;
    double FMean = 0; // running mean and sum of squared deviations (Welford)
    double FSquares = 0;
    double FLast = 0;
    double FBest = 0;
    double FWorst = 0;
    double FJitterSum = 0;
    std::array<double, RingSize> FRing{};
    std::size_t FRingNext = 0;
};

} // namespace paths

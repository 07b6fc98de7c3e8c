#include "paths/RttStats.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace paths {

namespace {

// The 95th percentile's rank, in whole numbers so that no rounding of 0.95
// moves it: ceil(95 * n / 100).
constexpr std::size_t PercentileOf = 95;
constexpr std::size_t Hundred = 100;

} // namespace

void RttStats::Add(double ms) {
    if (FCount == 0) {
        FBest = ms;
        FWorst = ms;
    } else {
        FBest = std::min(FBest, ms);
        FWorst = std::max(FWorst, ms);
        FJitterSum += std::abs(ms - FLast);
    }
    ++FCount;
    const double delta = ms - FMean;
    FMean += delta / static_cast<double>(FCount);
    FSquares += delta * (ms - FMean);
    FLast = ms;
    FRing[FRingNext] = ms;
    FRingNext = (FRingNext + 1) % RingSize;
}

RttFigures RttStats::Figures() const {
    RttFigures f;
    f.answers = FCount;
    if (FCount == 0)
        return f;
    f.lastMs = FLast;
    f.bestMs = FBest;
    f.worstMs = FWorst;
    f.meanMs = FMean;
    f.stdevMs = std::sqrt(std::max(0.0, FSquares / static_cast<double>(FCount)));
    if (FCount > 1)
        f.jitterMs = FJitterSum / static_cast<double>(FCount - 1);
    std::vector<double> sorted = Recent();
    const std::size_t held = sorted.size();
    std::sort(sorted.begin(), sorted.end());
    f.medianMs = held % 2 == 1 ? sorted[held / 2] : (sorted[held / 2 - 1] + sorted[held / 2]) / 2;
    const std::size_t rank = (PercentileOf * held + Hundred - 1) / Hundred;
    f.p95Ms = sorted[std::clamp<std::size_t>(rank, 1, held) - 1];
    return f;
}

std::vector<double> RttStats::Recent() const {
    const std::size_t held = static_cast<std::size_t>(std::min<std::uint64_t>(FCount, RingSize));
    std::vector<double> recent;
    recent.reserve(held);
    // Until the ring is full its oldest entry is at 0, afterwards at FRingNext.
    const std::size_t oldest = held < RingSize ? 0 : FRingNext;
    for (std::size_t i = 0; i < held; ++i)
        recent.push_back(FRing[(oldest + i) % RingSize]);
    return recent;
}

} // namespace paths

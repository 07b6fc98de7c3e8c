#include "paths/MinuteSummary.h"

#include <cmath>

namespace paths {

std::size_t HistogramBucket(double ms) {
    std::size_t bucket = 0;
    double bound = HistogramFirstBoundMs;
    while (bucket + 1 < MinuteSummary::Buckets && ms >= bound) {
        ++bucket;
        bound *= 2;
    }
    return bucket;
}

double HistogramUpperBoundMs(std::size_t bucket) {
    return HistogramFirstBoundMs * std::ldexp(1.0, static_cast<int>(bucket));
}

double HistogramPercentile(const std::array<std::uint32_t, MinuteSummary::Buckets>& histogram,
                           double p) {
    std::uint64_t total = 0;
    for (std::uint32_t n : histogram)
        total += n;
    if (total == 0)
        return 0;
    const auto rank = static_cast<std::uint64_t>(std::ceil(p / 100 * static_cast<double>(total)));
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < histogram.size(); ++i) {
        seen += histogram[i];
        if (seen >= rank && histogram[i] > 0)
            return HistogramUpperBoundMs(i);
    }
    return HistogramUpperBoundMs(histogram.size() - 1);
}

} // namespace paths

// Round-trip figures against values worked out by hand, and the minute
// summaries' log-scale histogram.
#include "paths/MinuteSummary.h"
#include "paths/RttStats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<double> Counting(int from, int to) {
    std::vector<double> out;
    for (int i = from; i <= to; ++i)
        out.push_back(i);
    return out;
}

} // namespace

// Every figure of a series; median and 95th percentile over the ring of the
// last 100 answers, the others over all of them.
TEST(RttStats, FiguresMatchHandWorkedValues) {
    struct Case {
        const char* name;
        std::vector<double> samples;
        paths::RttFigures expected;
    };
    const std::vector<Case> cases{
        {"none", {}, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"one", {5}, {1, 5, 5, 5, 5, 0, 0, 5, 5}},
        // mean 25, variance (225 + 25 + 25 + 225) / 4, p95 the 4th of 4.
        {"even count", {10, 20, 30, 40}, {4, 40, 10, 40, 25, std::sqrt(125.0), 10, 25, 40}},
        // differences 4, 8, 6, 4; variance (0 + 16 + 16 + 4 + 4) / 5.
        {"odd count", {5, 1, 9, 3, 7}, {5, 7, 1, 9, 5, std::sqrt(8.0), 5.5, 5, 9}},
        // 95 % of 20 is exactly 19: the 19th, whatever rounding 0.95 has.
        {"rank on the mark",
         Counting(1, 20),
         {20, 20, 1, 20, 10.5, std::sqrt(399.0 / 12), 1, 10.5, 19}},
        // The ring holds 21..120: median (70 + 71) / 2, p95 the 95th = 115.
        {"ring overrun",
         Counting(1, 120),
         {120, 120, 1, 120, 60.5, std::sqrt(14399.0 / 12), 1, 70.5, 115}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        paths::RttStats stats;
        for (double ms : c.samples)
            stats.Add(ms);
        const paths::RttFigures f = stats.Figures();
        const paths::RttFigures& e = c.expected;
        EXPECT_EQ(f.answers, e.answers);
        EXPECT_DOUBLE_EQ(f.lastMs, e.lastMs);
        EXPECT_DOUBLE_EQ(f.bestMs, e.bestMs);
        EXPECT_DOUBLE_EQ(f.worstMs, e.worstMs);
        EXPECT_NEAR(f.meanMs, e.meanMs, 1e-9);
        EXPECT_NEAR(f.stdevMs, e.stdevMs, 1e-9);
        EXPECT_NEAR(f.jitterMs, e.jitterMs, 1e-9);
        EXPECT_DOUBLE_EQ(f.medianMs, e.medianMs);
        EXPECT_DOUBLE_EQ(f.p95Ms, e.p95Ms);
    }
}

// The ring as the heat strip of the Path window reads it: the last 100
// round trips in the order they came, before and after it wraps.
TEST(RttStats, RecentHoldsTheLastRoundTripsOldestFirst) {
    const std::vector<std::pair<int, std::vector<double>>> cases{{0, {}},
                                                                 {3, Counting(1, 3)},
                                                                 {100, Counting(1, 100)},
                                                                 {101, Counting(2, 101)},
                                                                 {250, Counting(151, 250)}};
    for (const auto& [count, expected] : cases) {
        SCOPED_TRACE(count);
        paths::RttStats stats;
        for (double ms : Counting(1, count))
            stats.Add(ms);
        EXPECT_EQ(stats.Recent(), expected);
    }
}

// Bucket bounds double from 0.1 ms; the last bucket takes everything above;
// a percentile is the upper bound of the bucket of its nearest-rank answer.
TEST(MinuteHistogram, BucketsAndPercentiles) {
    const std::vector<std::pair<double, std::size_t>> buckets{
        {0, 0}, {0.099, 0}, {0.1, 1}, {0.199, 1}, {0.2, 2}, {1.0, 4}, {1.6, 5}, {1e9, 19}};
    for (auto [ms, bucket] : buckets)
        EXPECT_EQ(paths::HistogramBucket(ms), bucket) << ms;
    EXPECT_DOUBLE_EQ(paths::HistogramUpperBoundMs(4), 1.6);

    std::array<std::uint32_t, paths::MinuteSummary::Buckets> histogram{};
    EXPECT_EQ(paths::HistogramPercentile(histogram, 50), 0);
    for (int i = 0; i < 90; ++i)
        ++histogram[paths::HistogramBucket(1.0)];
    for (int i = 0; i < 10; ++i)
        ++histogram[paths::HistogramBucket(100.0)];
    EXPECT_DOUBLE_EQ(paths::HistogramPercentile(histogram, 50), 1.6);
    EXPECT_DOUBLE_EQ(paths::HistogramPercentile(histogram, 90), 1.6);
    EXPECT_DOUBLE_EQ(paths::HistogramPercentile(histogram, 95), 102.4);
}

#pragma once

#include "paths/Address.h"

#include <QMetaType>
#include <array>
#include <cstddef>
#include <cstdint>

namespace paths {

// One minute of one hop, or of one responder at a hop, as a store keeps it:
// plain sums from which the minute's figures follow and from which the
// figures of longer spans follow by adding minutes up.
//
// A hop's own record (responder null) counts the hop's requests of the
// minute and every answer there. A responder's record counts that
// responder's answers; its sent is the hop's requests of the minute (which
// responder an unanswered request would have met is unknown).
//
// mean = rttSumMs / answered; variance = rttSquaresMs / answered - mean²;
// jitter = diffSumMs / diffCount (a difference counts in the minute of its
// second answer); percentiles follow from the histogram
// (HistogramPercentile).
struct MinuteSummary {
    static constexpr std::size_t Buckets = 20;

    qint64 minuteStartMs = 0; // wall-clock ms since the epoch, a whole minute
    int ttl = 0;
    Address responder; // null for the hop's own record
    std::uint32_t sent = 0;
    std::uint32_t answered = 0;
    std::uint32_t forwardedLost = 0; // hop records only: lost requests the path lost too
    double rttSumMs = 0;
    double rttSquaresMs = 0;
    double diffSumMs = 0;
    std::uint32_t diffCount = 0;
    std::array<std::uint32_t, Buckets> histogram{};
};

// The histogram's buckets grow by a factor of two from FirstBoundMs: bucket
// 0 holds round trips below 0.1 ms, bucket i those from 0.1·2^(i-1) up to
// 0.1·2^i ms, the last one everything from 0.1·2^18 ms (about 26 s) up.
constexpr double HistogramFirstBoundMs = 0.1;
std::size_t HistogramBucket(double ms);
// The upper bound of bucket i in ms (the last one's lower bound doubled).
double HistogramUpperBoundMs(std::size_t bucket);
// An estimate of the p-th percentile (0 < p <= 100) of the round trips in a
// histogram: the upper bound of the bucket that holds the nearest-rank
// answer; 0 for an empty histogram. It errs high by at most a factor of two.
double HistogramPercentile(const std::array<std::uint32_t, MinuteSummary::Buckets>& histogram,
                           double p);

} // namespace paths

Q_DECLARE_METATYPE(paths::MinuteSummary)

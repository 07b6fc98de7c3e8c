#pragma once

#include <climits>
#include <cstdint>

// a * b / c computed in 64 bits and rounded to the nearest integer, halves
// away from zero. Returns -1 when c is 0 or the result does not fit an int.
constexpr int MulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    const std::int64_t p = static_cast<std::int64_t>(a) * b;
    const std::int64_t ap = p < 0 ? -p : p;
    const std::int64_t ac = c < 0 ? -static_cast<std::int64_t>(c) : c;
    std::int64_t q = (ap + ac / 2) / ac;
    if ((p < 0) != (c < 0))
        q = -q;
    if (q > INT_MAX || q < INT_MIN)
        return -1;
    return static_cast<int>(q);
}

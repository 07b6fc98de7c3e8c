#pragma once

// How many times slower the sanitizer builds run than a plain one. A test
// that must be done within a bound multiplies the bound by this, so that
// the bound still separates a fault from a slow build.
namespace netsonde::test {

#if defined(__SANITIZE_THREAD__)
#define NETSONDE_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define NETSONDE_TSAN 1
#endif
#endif

#if defined(NETSONDE_TSAN)
inline constexpr int SanitizerSlowdown = 10;
#elif defined(__SANITIZE_ADDRESS__)
inline constexpr int SanitizerSlowdown = 4;
#else
inline constexpr int SanitizerSlowdown = 1;
#endif

constexpr int Scaled(int ms) {
    return ms * SanitizerSlowdown;
}

} // namespace netsonde::test

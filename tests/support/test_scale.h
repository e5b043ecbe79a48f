// How much slower the test program runs than a plain build: the sanitizers
// make every call several times dearer. Tests that need a time bound to stop a
// hang multiply it by kSlowdown; suites whose cost grows with their size take
// fewer cases under a sanitizer.
#pragma once

#include <chrono>

#if defined(__SANITIZE_THREAD__)
inline constexpr int kSlowdown = 10;
inline constexpr bool kUnderSanitizer = true;
#elif defined(__SANITIZE_ADDRESS__)
inline constexpr int kSlowdown = 4;
inline constexpr bool kUnderSanitizer = true;
#else
inline constexpr int kSlowdown = 1;
inline constexpr bool kUnderSanitizer = false;
#endif

// A bound on how long something that should take milliseconds may take before
// a test calls it a hang: seconds, not milliseconds, so a machine busy with
// another build never fails it. The figure itself belongs to the benchmark.
inline constexpr std::chrono::milliseconds kHangBound{5000 * kSlowdown};

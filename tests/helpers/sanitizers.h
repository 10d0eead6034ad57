#pragma once

#include <chrono>

namespace palisard {

// Time limits in tests that measure responsiveness: the race detector makes
// thread creation and locking many times slower, so there they are looser.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr std::chrono::milliseconds kResponsiveLimit{5'000};
#else
inline constexpr std::chrono::milliseconds kResponsiveLimit{1'000};
#endif

}  // namespace palisard

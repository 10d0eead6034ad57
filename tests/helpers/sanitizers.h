#pragma once

#include <chrono>

namespace palisard {

// Time limits in tests that measure responsiveness: the race detector makes
// thread creation and locking many times slower, so there they are looser.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr std::chrono::milliseconds kResponsiveLimit{5'000};
// Sanitizers keep freed memory in quarantine and shadow it: resident-set
// figures say nothing about the program then.
inline constexpr bool kSanitized = true;
#else
inline constexpr std::chrono::milliseconds kResponsiveLimit{1'000};
inline constexpr bool kSanitized = false;
#endif

}  // namespace palisard

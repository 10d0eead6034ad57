#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace palisard {

// What the log says about store calls that fail or time out, so that a
// database in trouble is told without a line per request: the first of a
// kind at once, then a count once a minute while they go on, and one line
// when they have stopped (at the first call that succeeds after kQuiet
// without one). Kinds are told apart by their text. Not thread-safe.
class FaultLog {
 public:
  // A time on the clock's monotonic scale (Clock::NowMs).
  using Time = std::chrono::milliseconds;
  static constexpr std::chrono::minutes kCountEvery{1};
  static constexpr std::chrono::seconds kQuiet{10};

  // A call failed for `what`; the line to print now, if any.
  std::optional<std::string> Failed(const std::string& what, Time now);
  // A call succeeded; the lines to print now.
  std::vector<std::string> Succeeded(Time now);

 private:
  struct Kind {
    std::string what;
    Time last;            // its last failure
    Time told;            // its last line
    uint64_t untold = 0;  // failures since that line
    uint64_t total = 0;
  };
  std::vector<Kind> failing_;
};

}  // namespace palisard

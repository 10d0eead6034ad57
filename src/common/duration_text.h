#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

namespace palisard {

// "m:ss" of a number of seconds, as the console and the page show the time
// a block has left: 299 reads "4:59".
inline std::string MinutesAndSeconds(int64_t seconds) {
  char text[32];
  std::snprintf(text, sizeof(text), "%" PRId64 ":%02" PRId64, seconds / 60, seconds % 60);
  return text;
}

}  // namespace palisard

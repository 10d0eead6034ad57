#include "common/utc_time.h"

#include <chrono>
#include <cstdio>

namespace palisard {
namespace {

using std::chrono::days;
using std::chrono::sys_days;

constexpr int64_t kDay = 24 * 3600;
// Days from 1970-01-01 to 0000-01-01 and to 10000-01-01.
constexpr int64_t kFirstDay = -719528;
constexpr int64_t kEndDay = 2932897;

}  // namespace

std::string FormatUtcTime(int64_t time) {
  int64_t day = time / kDay;
  int64_t second = time % kDay;
  if (second < 0) {
    second += kDay;
    --day;
  }
  if (day < kFirstDay || day >= kEndDay) return std::to_string(time);
  const std::chrono::year_month_day date{sys_days(days(day))};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(second / 3600),
                static_cast<int>(second / 60 % 60), static_cast<int>(second % 60));
  return text;
}

Result ParseUtcTime(const std::string& text, int64_t* time) {
  int year = 0;
  unsigned month = 0;
  unsigned day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  char zone = 0;
  int consumed = 0;
  const bool read = std::sscanf(text.c_str(), "%4d-%2u-%2uT%2d:%2d:%2d%c%n", &year, &month, &day, &hour, &minute,
                                &second, &zone, &consumed) == 7 &&
                    zone == 'Z' && static_cast<std::size_t>(consumed) == text.size();
  const Result invalid = Result::Invalid("'" + text + "' is not a UTC time like 2024-05-01T12:00:00Z");
  const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(month), std::chrono::day(day)};
  if (!read || !date.ok()) return invalid;
  const int64_t seconds = static_cast<int64_t>(sys_days(date).time_since_epoch().count()) * kDay +
                          hour * 3600 + minute * 60 + second;
  // Only a time that prints back as written is one: no 24:00, no 12:60,
  // no missing leading zeros.
  if (FormatUtcTime(seconds) != text) return invalid;
  *time = seconds;
  return Result::Ok();
}

}  // namespace palisard

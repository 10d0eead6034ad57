#include "store/sightings.h"

#include <gtest/gtest.h>

#include <map>

namespace palisard {
namespace {

constexpr UnixTime kMidnight = 1'700'006'400;  // a UTC day begins

// One host's requests, each stay written as the store writes it: what
// stays of player 7 come of them, in every day's row.
std::vector<Stay> StaysOf7(const std::vector<std::pair<UnixTime, std::vector<uint64_t>>>& requests) {
  HostMatch match{3, 0, {}};
  std::vector<StayWrite> writes;
  for (const auto& [at, ids] : requests) AddRequest(&match, at, ids, &writes);
  AddRequest(&match, requests.back().first + kDaySeconds, {}, &writes);  // and then no more of him
  std::map<int64_t, std::vector<Stay>> days;
  for (const StayWrite& write : writes) {
    if (write.playerId == 7) ApplyStayWrite(write, &days[DayOf(write.stay.first)]);
  }
  std::vector<Stay> stays;
  for (const auto& [day, dayStays] : days) {
    std::string bytes = EncodeStays(dayStays, day);
    std::vector<Stay> read;
    EXPECT_TRUE(DecodeStays(bytes, day, &read).ok());
    stays.insert(stays.end(), read.begin(), read.end());
  }
  return stays;
}

TEST(SightingsTest, StaysLastWhileTheHostKeepsNamingThePlayer) {
  const UnixTime t = kMidnight - 3600;
  std::vector<uint64_t> crowd;
  for (uint64_t id = 100; crowd.size() < kMatchPlayers; ++id) crowd.push_back(id);
  crowd.push_back(7);
  const struct {
    const char* what;
    std::vector<std::pair<UnixTime, std::vector<uint64_t>>> requests;
    std::vector<std::pair<UnixTime, UnixTime>> stays;
  } cases[] = {
      {"named every minute", {{t, {7}}, {t + 60, {7, 8}}, {t + 120, {7}}}, {{t, t + 120}}},
      {"a pause longer than the gap", {{t, {7}}, {t + 60, {8}}, {t + kStayGap + 1, {7}}}, {{t, t}, {t + kStayGap + 1, t + kStayGap + 1}}},
      {"a late request inside his stay", {{t, {7}}, {t + 240, {7}}, {t + 120, {7}}}, {{t, t + 240}}},
      {"a late request after he left", {{t, {7}}, {t + 60, {7}}, {t + 600, {8}}, {t + 100, {7}}}, {{t, t + 100}}},
      {"a late request before he came", {{t + 60, {7}}, {t + 120, {7}}, {t, {7}}}, {{t, t + 120}}},
      {"through midnight", {{kMidnight - 60, {7}}, {kMidnight + 60, {7}}}, {{kMidnight - 60, kMidnight - 1}, {kMidnight, kMidnight + 60}}},
      {"more than a match holds", {{t, crowd}}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::pair<UnixTime, UnixTime>> stays;
    for (const Stay& stay : StaysOf7(c.requests)) stays.emplace_back(stay.first, stay.last);
    EXPECT_EQ(stays, c.stays) << c.what;
  }
}

}  // namespace
}  // namespace palisard

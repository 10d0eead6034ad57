#include "service/contract/sighting_log.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

// A host asking again and again leaves its earliest and latest sightings,
// out of order as workers may add them; other hosts and other matches stay
// apart; a written log starts over.
TEST(SightingLogTest, KeepsARunsEarliestAndLatestSighting) {
  SightingLog log;
  for (UnixTime at : {105, 100, 108, 103}) log.Add({"192.0.2.1", "192.0.2.0/24", at, {7, 8}});
  log.Add({"192.0.2.1", "192.0.2.0/24", 104, {7, 9}});
  log.Add({"192.0.2.2", "192.0.2.0/24", 101, {7, 8}});
  std::vector<Sighting> taken = log.Take();
  ASSERT_EQ(taken.size(), 4u);
  EXPECT_EQ(taken[0].at, 100);
  EXPECT_EQ(taken[1].at, 108);
  EXPECT_EQ(taken[1].ids, (std::vector<uint64_t>{7, 8}));
  EXPECT_EQ(taken[2].ids, (std::vector<uint64_t>{7, 9}));
  EXPECT_EQ(taken[3].source, "192.0.2.2");
  log.Add({"192.0.2.1", "192.0.2.0/24", 110, {7, 8}});
  EXPECT_EQ(log.Take().size(), 1u);

  // Requests of a thousand ids fill it long before a thousand of them wait.
  const std::vector<uint64_t> ids(1000, 7);
  for (UnixTime at = 0; at < 1001; ++at) log.Add({"192.0.2." + std::to_string(at), "192.0.2.0/24", at, ids});
  EXPECT_EQ(log.Take().size(), SightingLog::kIdLimit / 1000);
}

}  // namespace
}  // namespace palisard

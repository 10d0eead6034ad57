#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "store/store.h"

namespace palisard {

// What the evidence of reports is made of, kept once per host and once per
// player stay rather than once per request: a host's requests name the
// same players again and again, and what the evidence asks is whether one
// host named two of them together around a time.
//
// A player's stay at a host lasts from the first to the last request of the
// host that named him, without a pause of more than kStayGap, within one
// UTC day (a stay through midnight is two, the first ending at the day's
// last second). Between its requests the store keeps each host's match:
// the players it named within kStayGap of its last request, with their
// stays so far. A stay is written to the player's row when it begins and
// when it ends, not at each request.

// A host asks about its players about once a minute (every ten seconds
// after a failure); a player it has not named for longer than this left
// the match, and a later request begins a new stay.
inline constexpr UnixTime kStayGap = 5 * 60;
// A host names the players of one match. More than this many at once are no
// match of the game (a forger naming ids by the thousand): the others are
// not recorded.
inline constexpr std::size_t kMatchPlayers = 64;
inline constexpr UnixTime kDaySeconds = 24 * 3600;

// The UTC day a time falls on, counted from 1970-01-01.
int64_t DayOf(UnixTime time);

struct Stay {
  int64_t host = 0;  // the host's row
  UnixTime first = 0;
  UnixTime last = 0;
};

// A player in a host's match.
struct MatchPlayer {
  uint64_t playerId = 0;
  UnixTime first = 0;  // his stay's first request
  UnixTime last = 0;   // and its last so far
};

struct HostMatch {
  int64_t host = 0;
  UnixTime lastSeen = 0;  // the host's newest request
  std::vector<MatchPlayer> players;
};

// A stay to write to the player's row of its day: the one that began at
// `began` (or, when there is none, one within kStayGap of it) is now
// `stay`.
struct StayWrite {
  uint64_t playerId = 0;
  UnixTime began = 0;
  Stay stay;
};

// Adds one request of the host, at `at`, naming `ids`: the stays that
// begin, end or change are added to `writes`. Requests may come out of
// order (several instances write their own).
void AddRequest(HostMatch* match, UnixTime at, const std::vector<uint64_t>& ids, std::vector<StayWrite>* writes);

// Puts `write` into a day's stays of its player: the stay it names, or one
// within kStayGap of it at the same host, widened to hold it; else a stay
// of its own. In order of their beginnings.
void ApplyStayWrite(const StayWrite& write, std::vector<Stay>* stays);

// The stays of `playerId` that lie within [from, to], as long as they
// really are: a stay still open ends at its last request so far, which the
// host's match holds. Stays at hosts not in `matches` (forgotten) are left
// out.
std::vector<Stay> StaysWithin(uint64_t playerId, const std::vector<Stay>& stays,
                              const std::vector<HostMatch>& matches, UnixTime from, UnixTime to);

// Whether two stays at one host overlap.
bool Together(const Stay& a, const Stay& b);

// The rows' encodings: varints, a player's stays as differences from the
// one before. kFailed when the bytes are not what was written.
std::string EncodeStays(const std::vector<Stay>& stays, int64_t day);
Result DecodeStays(std::string_view bytes, int64_t day, std::vector<Stay>* stays);
std::string EncodeMatch(const HostMatch& match);
Result DecodeMatch(std::string_view bytes, HostMatch* match);

}  // namespace palisard

#include "store/sightings.h"

#include <algorithm>
#include <unordered_set>

namespace palisard {
namespace {

UnixTime DayStart(int64_t day) { return day * kDaySeconds; }

MatchPlayer* Find(HostMatch* match, uint64_t playerId) {
  for (MatchPlayer& player : match->players) {
    if (player.playerId == playerId) return &player;
  }
  return nullptr;
}

StayWrite WriteOf(int64_t host, const MatchPlayer& player, UnixTime began) {
  return {player.playerId, began, {host, player.first, player.last}};
}

// A present player named again at `at`.
void NamedAgain(int64_t host, MatchPlayer* player, UnixTime at, std::vector<StayWrite>* writes) {
  if (DayOf(at) == DayOf(player->first)) {
    if (at < player->first) {
      const UnixTime began = player->first;
      player->first = at;
      writes->push_back(WriteOf(host, *player, began));
    }
    player->last = std::max(player->last, at);
  } else if (at > player->last) {
    // Through midnight: the day's stay ends at its last second.
    const int64_t day = DayOf(at);
    writes->push_back({player->playerId, player->first, {host, player->first, DayStart(day) - 1}});
    *player = {player->playerId, DayStart(day), at};
    writes->push_back(WriteOf(host, *player, player->first));
  } else {
    // A late request of the day before: a stay there of its own.
    writes->push_back({player->playerId, at, {host, at, at}});
  }
}

void PutVarint(uint64_t value, std::string* bytes) {
  while (value >= 0x80) {
    bytes->push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  bytes->push_back(static_cast<char>(value));
}

bool GetVarint(std::string_view* bytes, uint64_t* value) {
  *value = 0;
  for (int shift = 0; shift < 64 && !bytes->empty(); shift += 7) {
    const auto byte = static_cast<unsigned char>(bytes->front());
    bytes->remove_prefix(1);
    *value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

// A difference that is never negative when the bytes are what was written.
bool GetTime(std::string_view* bytes, UnixTime* value) {
  uint64_t read = 0;
  if (!GetVarint(bytes, &read) || read > static_cast<uint64_t>(INT64_MAX)) return false;
  *value = static_cast<UnixTime>(read);
  return true;
}

}  // namespace

int64_t DayOf(UnixTime time) { return time >= 0 ? time / kDaySeconds : (time + 1) / kDaySeconds - 1; }

void AddRequest(HostMatch* match, UnixTime at, const std::vector<uint64_t>& ids, std::vector<StayWrite>* writes) {
  if (at > match->lastSeen) {
    // Whoever the host has not named for longer than the gap has left.
    std::erase_if(match->players, [&](const MatchPlayer& player) {
      if (player.last >= at - kStayGap) return false;
      writes->push_back(WriteOf(match->host, player, player.first));
      return true;
    });
    match->lastSeen = at;
  }
  std::unordered_set<uint64_t> named;
  for (uint64_t id : ids) {
    if (id == 0 || !named.insert(id).second) continue;
    if (MatchPlayer* player = Find(match, id)) {
      NamedAgain(match->host, player, at, writes);
    } else if (at < match->lastSeen - kStayGap) {
      // A late request from before the host's match had him: a stay of
      // its own, or part of the one he had then.
      writes->push_back({id, at, {match->host, at, at}});
    } else if (match->players.size() < kMatchPlayers) {
      match->players.push_back({id, at, at});
      writes->push_back(WriteOf(match->host, match->players.back(), at));
    }
  }
}

void ApplyStayWrite(const StayWrite& write, std::vector<Stay>* stays) {
  const Stay& stay = write.stay;
  auto same = std::find_if(stays->begin(), stays->end(),
                           [&](const Stay& s) { return s.host == stay.host && s.first == write.began; });
  if (same == stays->end()) {
    same = std::find_if(stays->begin(), stays->end(), [&](const Stay& s) {
      return s.host == stay.host && s.first <= stay.last + kStayGap && stay.first <= s.last + kStayGap;
    });
  }
  if (same == stays->end()) {
    stays->push_back(stay);
  } else if (same->first == write.began) {
    *same = stay;
  } else {
    same->first = std::min(same->first, stay.first);
    same->last = std::max(same->last, stay.last);
  }
  std::sort(stays->begin(), stays->end(),
            [](const Stay& a, const Stay& b) { return a.first != b.first ? a.first < b.first : a.host < b.host; });
}

std::vector<Stay> StaysWithin(uint64_t playerId, const std::vector<Stay>& stays,
                              const std::vector<HostMatch>& matches, UnixTime from, UnixTime to) {
  std::vector<Stay> within;
  for (Stay stay : stays) {
    const auto match = std::find_if(matches.begin(), matches.end(),
                                    [&](const HostMatch& m) { return m.host == stay.host; });
    if (match == matches.end()) continue;
    for (const MatchPlayer& player : match->players) {
      if (player.playerId == playerId && player.first == stay.first) stay.last = std::max(stay.last, player.last);
    }
    if (stay.first <= to && stay.last >= from) within.push_back(stay);
  }
  return within;
}

bool Together(const Stay& a, const Stay& b) { return a.host == b.host && a.first <= b.last && b.first <= a.last; }

std::string EncodeStays(const std::vector<Stay>& stays, int64_t day) {
  std::string bytes;
  UnixTime previous = DayStart(day);
  for (const Stay& stay : stays) {
    PutVarint(static_cast<uint64_t>(stay.host), &bytes);
    PutVarint(static_cast<uint64_t>(stay.first - previous), &bytes);
    PutVarint(static_cast<uint64_t>(stay.last - stay.first), &bytes);
    previous = stay.first;
  }
  return bytes;
}

Result DecodeStays(std::string_view bytes, int64_t day, std::vector<Stay>* stays) {
  stays->clear();
  UnixTime previous = DayStart(day);
  while (!bytes.empty()) {
    UnixTime host = 0;
    UnixTime after = 0;
    UnixTime length = 0;
    if (!GetTime(&bytes, &host) || !GetTime(&bytes, &after) || !GetTime(&bytes, &length)) {
      return Result::Failed("the database holds stays this program cannot read");
    }
    previous += after;
    stays->push_back({host, previous, previous + length});
  }
  return Result::Ok();
}

std::string EncodeMatch(const HostMatch& match) {
  std::string bytes;
  for (const MatchPlayer& player : match.players) {
    PutVarint(player.playerId, &bytes);
    PutVarint(static_cast<uint64_t>(match.lastSeen - player.first), &bytes);
    PutVarint(static_cast<uint64_t>(match.lastSeen - player.last), &bytes);
  }
  return bytes;
}

Result DecodeMatch(std::string_view bytes, HostMatch* match) {
  match->players.clear();
  while (!bytes.empty()) {
    MatchPlayer player;
    UnixTime sinceFirst = 0;
    UnixTime sinceLast = 0;
    if (!GetVarint(&bytes, &player.playerId) || !GetTime(&bytes, &sinceFirst) || !GetTime(&bytes, &sinceLast)) {
      return Result::Failed("the database holds a host's match this program cannot read");
    }
    player.first = match->lastSeen - sinceFirst;
    player.last = match->lastSeen - sinceLast;
    match->players.push_back(player);
  }
  return Result::Ok();
}

}  // namespace palisard

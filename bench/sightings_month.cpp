// A month of a big community's sightings, written to a store as the service
// writes them, so that what they cost on disk can be measured:
//   build/linux/bench/sightings_month DATABASE [DAYS]
// 600 hosts each ask about their match once a minute (10 GetBanList a
// second), 16 players a match out of a community of 10,000, each staying
// 30 to 90 minutes and then going on to another host after a few minutes
// in the lobby. Every simulated minute's requests are written as one batch
// (the service writes every 2 s; each host asks once a minute either way),
// and the store is pruned every 5 minutes of simulated time as the service
// prunes it. Prints the seconds each simulated day took.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "store/store.h"

namespace palisard {
namespace {

constexpr int kHosts = 600;
constexpr int kSlots = 16;
constexpr int kPlayers = 10'000;
constexpr UnixTime kMinute = 60;
constexpr UnixTime kDay = 24 * 60 * kMinute;
constexpr UnixTime kStart = 1'780'000'000;
constexpr UnixTime kKept = 30 * kDay;  // as the service keeps sightings
constexpr UnixTime kPruneEvery = 5 * kMinute;

struct Slot {
  uint64_t player = 0;
  UnixTime leavesAt = 0;
};

class Community {
 public:
  Community() {
    // Community ids as the game gives them: one base and a 32-bit account.
    std::uniform_int_distribution<uint64_t> account(1, 0x7fffffff);
    for (int i = 0; i < kPlayers; ++i) lobby_.push_back(76561197960265728u + account(random_));
    slots_.resize(kHosts * kSlots);
    for (Slot& slot : slots_) Seat(&slot, kStart - std::uniform_int_distribution<UnixTime>(0, 60)(random_) * kMinute);
  }

  // What host `host` names when it asks at `now`: its players, after those
  // whose stay ended went back to the lobby and others took their seats.
  Sighting Ask(int host, UnixTime now) {
    Sighting sighting;
    sighting.source = "10." + std::to_string(host / 256) + "." + std::to_string(host % 256) + ".1";
    sighting.network = "10." + std::to_string(host / 256) + "." + std::to_string(host % 256) + ".0/24";
    sighting.at = now;
    for (int i = 0; i < kSlots; ++i) {
      Slot& slot = slots_[static_cast<std::size_t>(host * kSlots + i)];
      if (slot.leavesAt <= now) {
        lobby_.push_back(slot.player);
        Seat(&slot, now);
      }
      sighting.ids.push_back(slot.player);
    }
    return sighting;
  }

 private:
  void Seat(Slot* slot, UnixTime from) {
    slot->player = lobby_.front();
    lobby_.pop_front();
    slot->leavesAt = from + std::uniform_int_distribution<UnixTime>(30, 90)(random_) * kMinute;
  }

  std::mt19937_64 random_{20261208};
  std::deque<uint64_t> lobby_;
  std::vector<Slot> slots_;
};

int Run(const std::string& database, int days) {
  std::unique_ptr<Store> store;
  Result opened = OpenStore(database, &store);
  if (!opened.ok()) {
    std::fprintf(stderr, "sightings_month: %s\n", opened.text().c_str());
    return 1;
  }
  Community community;
  auto dayStarted = std::chrono::steady_clock::now();
  for (UnixTime minute = kStart; minute < kStart + days * kDay; minute += kMinute) {
    std::vector<Sighting> batch;
    batch.reserve(kHosts);
    // Each host at its own second of the minute.
    for (int host = 0; host < kHosts; ++host) batch.push_back(community.Ask(host, minute + host % kMinute));
    Result written = store->RecordSightings(batch);
    if (written.ok() && (minute - kStart) % kPruneEvery == 0) written = store->Prune(minute - kKept, 0, minute);
    if (!written.ok()) {
      std::fprintf(stderr, "sightings_month: %s\n", written.text().c_str());
      return 1;
    }
    if ((minute + kMinute - kStart) % kDay == 0) {
      const auto now = std::chrono::steady_clock::now();
      std::printf("day %lld written in %.1f s\n", static_cast<long long>((minute + kMinute - kStart) / kDay),
                  std::chrono::duration<double>(now - dayStarted).count());
      std::fflush(stdout);
      dayStarted = now;
    }
  }
  return 0;
}

}  // namespace
}  // namespace palisard

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: sightings_month DATABASE [DAYS]\n");
    return 2;
  }
  return palisard::Run(argv[1], argc > 2 ? std::atoi(argv[2]) : 30);
}

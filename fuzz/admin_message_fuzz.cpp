// The hosting service's handling of one connection's bytes, over a socket
// pair, against a populated match.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "admin/admin_service.h"
#include "helpers/memory_filter_engine.h"

namespace {

class FixedClock final : public palisard::Clock {
 public:
  int64_t NowMs() const override { return now; }
  int64_t UnixSeconds() const override { return 1'714'564'800 + now / 1000; }
  int64_t now = 1'000'000;
};

// Most inputs carry a wrong key: with the usual limit the one peer would
// spend nearly every run dropped, its message unread.
palisard::AdminService::Limits Limits() {
  palisard::AdminService::Limits limits;
  limits.keyGuesses.maxInvalidKeys = 1'000'000;
  return limits;
}

struct World {
  palisard::MatchState state;
  palisard::MemoryFilterEngine engine;
  FixedClock clock;
  palisard::Firewall firewall{engine, clock};
  palisard::AdminService service{state, firewall, clock, Limits(), [] { return 0x1234u; }};
  World() {
    if (firewall.Initialize().code() != 0) std::abort();  // the in-memory engine always opens
    state.EditForTest([](palisard::MatchData& d) {
      for (uint64_t slot = 0; slot < 6; ++slot) {
        d.clients[slot].SetCommunityId(76561198000000001ULL + slot);
        d.clients[slot].SetAddress({127, 0, 0, static_cast<uint8_t>(slot + 1)});
      }
      d.SyncPlayerRecords();
      d.players[1].key = 0x1234;
      d.hostId = d.ownId = 76561198000000001ULL;
    });
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static World world;
  world.clock.now += 16'000;  // past every cool-down
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  if (size > 0 && write(pair[1], data, size) < 0) {
  }
  shutdown(pair[1], SHUT_WR);
  world.service.HandleAdminClient(palisard::Socket(static_cast<palisard::SocketHandle>(pair[0])), 0x7F000002);
  close(pair[1]);
  world.firewall.ClearBlocks();
  return 0;
}

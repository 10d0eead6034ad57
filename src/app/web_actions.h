#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "admin/admin_client.h"
#include "bans/ban_service.h"
#include "common/clock.h"
#include "common/console_output.h"
#include "firewall/firewall.h"
#include "game/match_state.h"

namespace palisard {

// The community id after the first "?" of a request path: decimal digits
// up to the end or to a "&" that starts further parameters. Nothing when
// that is not a number from 1 to the largest 64-bit value: a sign, a blank,
// another character or an overflow is never read as some other player.
std::optional<uint64_t> ParseIdParameter(const std::string& path);

// The "report" and "kick" links of the web console. Each runs on the
// connection's thread, prints its console lines and returns the message for
// the result page.
class WebActions {
 public:
  WebActions(MatchState& state, BanService& banService, Firewall& firewall, AdminClient& adminClient,
             const Clock& clock, ConsoleSink& console = StandardOutput());

  // Reports the player to the ban service; on the hosting copy an accepted
  // report blocks the player at once.
  std::string ReportPlayer(const std::string& path);
  // Asks the hosting copy to count a vote against the player.
  std::string VoteKickPlayer(const std::string& path);

 private:
  MatchState& state_;
  BanService& banService_;
  Firewall& firewall_;
  AdminClient& adminClient_;
  const Clock& clock_;
  ConsoleSink& console_;
};

}  // namespace palisard

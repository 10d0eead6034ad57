#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "admin/admin_client.h"
#include "app/block_desk.h"
#include "bans/ban_service.h"
#include "common/clock.h"
#include "common/console_output.h"
#include "firewall/firewall.h"
#include "game/match_state.h"
#include "web/pages.h"

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

// The "unblock" link of the web console: lifts the block like the console's
// "unblock ID", prints the same line and returns it for the result page.
std::string UnblockPlayer(BlockDesk& desk, const std::string& path, ConsoleSink& console = StandardOutput());

// The blocks in force as the web console shows them.
std::vector<BlockRow> BlockRows(const BlockDesk& desk);

}  // namespace palisard

#include "app/web_actions.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <limits>

#include "common/console_output.h"

namespace palisard {

namespace {

constexpr const char* kInvalidId = "Invalid id provided";

}  // namespace

std::optional<uint64_t> ParseIdParameter(const std::string& path) {
  const std::size_t question = path.find('?');
  if (question == std::string::npos) return std::nullopt;
  const std::size_t end = std::min(path.find('&', question), path.size());
  if (end == question + 1) return std::nullopt;
  uint64_t id = 0;
  for (std::size_t at = question + 1; at < end; ++at) {
    const char c = path[at];
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (id > (std::numeric_limits<uint64_t>::max() - digit) / 10) return std::nullopt;
    id = id * 10 + digit;
  }
  if (id == 0) return std::nullopt;
  return id;
}

WebActions::WebActions(MatchState& state, BanService& banService, Firewall& firewall, AdminClient& adminClient,
                       const Clock& clock, ConsoleSink& console)
    : state_(state),
      banService_(banService),
      firewall_(firewall),
      adminClient_(adminClient),
      clock_(clock),
      console_(console) {}

std::string WebActions::ReportPlayer(const std::string& path) {
  const std::optional<uint64_t> parsed = ParseIdParameter(path);
  if (!parsed) return kInvalidId;
  const uint64_t id = *parsed;
  console_.Print("Reporting %" PRIu64 "..\n", id);
  const HostLink link = state_.Link();
  if (id == link.ownId) return "You cannot report yourself";
  if (link.ownId == 0) return "You must log in to Online Services to report a player";
  bool accepted = false;
  // Nothing goes to the service before a game is found.
  if (!link.gameFound || !banService_.AddInfraction(link.ownId, id, &accepted).ok()) {
    console_.Print("Report failed unexpectedly\n");
    return "Report failed unexpectedly";
  }
  std::optional<uint32_t> address;
  if (accepted) {
    const MatchData match = state_.Snapshot();
    if (IsHosting(match)) {
      for (const PlayerRecord& record : match.players) {
        if (record.communityId == id) {
          address = AddressToHostOrder(record.ip);
          break;
        }
      }
    }
  }
  if (address) {
    const Result block = firewall_.BlockPlayer(*address, id, BlockReason::kReport);
    if (!InForce(block)) console_.Print("%s", BlockFailureLine(id, *address, block).c_str());
  }
  console_.Print("Report successful\n");
  return "Report successful";
}

std::string WebActions::VoteKickPlayer(const std::string& path) {
  if (!state_.Link().hostEnabled) return "Server is not Palisard enabled";
  const std::optional<uint64_t> parsed = ParseIdParameter(path);
  if (!parsed) return kInvalidId;
  const uint64_t id = *parsed;
  if (!state_.RequestVote(clock_.NowMs())) return "Server is not Palisard enabled";
  console_.Print("Requesting a votekick on %" PRIu64 "..\n", id);
  std::string reply;
  if (!adminClient_.RequestVoteKick(id, &reply).ok()) return "Votekick request failed unexpectedly";
  return reply;
}

std::string UnblockPlayer(BlockDesk& desk, const std::string& path, ConsoleSink& console) {
  const std::optional<uint64_t> id = ParseIdParameter(path);
  if (!id) return kInvalidId;
  const std::string message = UnblockMessage(*id, desk.Unblock(*id));
  console.Print("%s\n", message.c_str());
  return message;
}

std::vector<BlockRow> BlockRows(const BlockDesk& desk) {
  std::vector<BlockRow> rows;
  for (const BlockDesk::Entry& entry : desk.List()) {
    rows.push_back({entry.communityId, entry.name, entry.address, BlockReasonName(entry.reason),
                    std::chrono::duration_cast<std::chrono::seconds>(entry.left).count()});
  }
  return rows;
}

}  // namespace palisard

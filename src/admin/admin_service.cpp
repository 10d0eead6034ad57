#include "admin/admin_service.h"

#include <cinttypes>
#include <cmath>
#include <random>
#include <utility>

#include "common/byte_order.h"
#include "common/console_output.h"

namespace palisard {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr double kCoolDownMs = 15000;

std::vector<uint8_t> Text(const std::string& text) { return EncodeTextReply(text); }

}  // namespace

uint32_t RandomRegistrationKey() {
  // Never destroyed: connection threads may register while the process exits.
  static std::mutex* mutex = new std::mutex;
  static std::random_device* source = new std::random_device;
  std::lock_guard<std::mutex> lock(*mutex);
  uint32_t key = 0;
  while (key == 0) key = static_cast<uint32_t>((*source)());
  return key;
}

AdminService::AdminService(MatchState& state, Firewall& firewall, const Clock& clock, Limits limits, KeySource keys)
    : state_(state),
      firewall_(firewall),
      clock_(clock),
      limits_(limits),
      keys_(std::move(keys)),
      // While another player hosts, connections wait in the listen queue.
      loop_({limits.maxConnections, limits.maxPerAddress},
            [this](Socket client, uint32_t peerAddress) {
              RecomputeVotesNeeded();
              HandleAdminClient(std::move(client), peerAddress);
            },
            [this] { return IsHosting(); }) {}

bool AdminService::IsHosting() const {
  std::lock_guard<std::mutex> lock(state_.mutex);
  return state_.IsHosting();
}

void AdminService::HandleAdminClient(Socket client, uint32_t peerAddress) {
  // A silent or slow peer loses its connection after the time-out.
  SetIoTimeout(client.get(), static_cast<int>(limits_.messageTimeout.count()));
  std::vector<uint8_t> answer = ProcessAdminMessage(client.get(), peerAddress);
  if (!answer.empty()) SendAll(client.get(), answer.data(), answer.size());
  ShutdownSend(client.get());
}

std::vector<uint8_t> AdminService::ProcessAdminMessage(SocketHandle client, uint32_t peerAddress) {
  std::optional<AdminHeader> header = ReceiveAdminHeader(client);
  if (!header) return {};
  switch (header->type) {
    case kAdminQuery: {
      uint8_t payload[4];  // read whatever the length says
      if (!ReceiveExactly(client, payload, sizeof(payload))) return {};
      return AnswerQuery(ReadLe16(payload));
    }
    case kAdminRegister: {
      uint8_t payload[8];
      if (header->length != sizeof(payload) || !ReceiveExactly(client, payload, sizeof(payload))) return {};
      return Register(ReadLe64(payload), peerAddress);
    }
    case kAdminVoteKick: {
      uint8_t payload[24];
      if (header->length != sizeof(payload) || !ReceiveExactly(client, payload, sizeof(payload))) return {};
      return VoteKick(DecodeVoteKick(payload));
    }
    default:
      return {};
  }
}

std::vector<uint8_t> AdminService::AnswerQuery(uint16_t kind) {
  if (kind == kAdminPing) return EncodePingReply();
  if (kind != kAdminVoteCounts) return {};
  std::vector<VoteCount> records;
  uint32_t votesNeeded;
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    votesNeeded = state_.votesNeeded;
    for (const PlayerRecord& record : state_.players) {
      records.push_back({record.communityId, static_cast<uint8_t>(record.votesAgainst)});
    }
  }
  return EncodeVoteCounts(votesNeeded, records);
}

std::vector<uint8_t> AdminService::Register(uint64_t communityId, uint32_t peerAddress) {
  const std::vector<uint8_t> refusal = Text("Invalid id provided when registering");
  std::lock_guard<std::mutex> lock(state_.mutex);
  for (PlayerRecord& record : state_.players) {
    if (record.communityId != communityId) continue;
    // The host's own copy registers over loopback; every other copy from
    // the address the game reports for its slot.
    uint32_t expected = communityId == state_.hostId ? kLoopback : AddressToHostOrder(record.ip);
    if (peerAddress != expected) return refusal;
    if (record.key == 0) record.key = keys_();
    return EncodeRegisterReply(record.key);
  }
  return refusal;
}

std::vector<uint8_t> AdminService::VoteKick(const VoteKickRequest& request) {
  if (request.voterId == request.targetId) return Text("You cannot votekick yourself");
  uint32_t targetAddress = 0;
  bool kick = false;
  {
    std::lock_guard<std::mutex> lock(state_.mutex);
    PlayerRecord* voter = nullptr;
    PlayerRecord* target = nullptr;
    for (PlayerRecord& record : state_.players) {  // the last slot of an id counts
      if (record.communityId == request.voterId) voter = &record;
      if (record.communityId == request.targetId) target = &record;
    }
    if (voter == nullptr || target == nullptr || request.voterId == 0 || request.targetId == 0) {
      return Text("Invalid id provided");
    }
    // Keys are never 0, so 0 is "not registered", never a key: without this a
    // stranger could vote in the name of any player whose copy has not
    // registered.
    if (request.key == 0 || request.key != voter->key) return Text("Invalid key provided");
    if (voter->voteTimer.state != Stopwatch::kNeverStarted) {
      double elapsed = voter->voteTimer.ElapsedMs(clock_);
      if (elapsed < kCoolDownMs) {
        int seconds = static_cast<int>(std::ceil((kCoolDownMs - elapsed) / 1000.0));
        return Text("Please wait and try again in " + std::to_string(seconds) + " seconds");
      }
    }
    for (uint64_t voted : voter->votedIds) {
      if (voted == request.targetId) return Text("You already voted to kick that player");
    }
    voter->voteTimer.Start(clock_);
    voter->votedIds.push_back(request.targetId);
    target->votesAgainst = state_.CountVotesAgainst(request.targetId);
    kick = target->votesAgainst >= state_.votesNeeded;
    targetAddress = AddressToHostOrder(target->ip);
  }
  if (kick) {
    firewall_.BlockPlayer(targetAddress, request.targetId);
    Print("Kicking %" PRIu64 "\n", request.targetId);
  }
  return Text("Votekick successful");
}

void AdminService::RecomputeVotesNeeded() {
  std::lock_guard<std::mutex> lock(state_.mutex);
  uint32_t registered = 0;
  for (const PlayerRecord& record : state_.players) registered += record.key != 0 ? 1 : 0;
  state_.votesNeeded = std::max<uint32_t>((registered + 1) / 2, 1);
}

}  // namespace palisard

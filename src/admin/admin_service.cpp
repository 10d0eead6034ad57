#include "admin/admin_service.h"

#include <cinttypes>
#include <random>
#include <utility>

#include "common/byte_order.h"
#include "common/console_output.h"
#include "common/mutex.h"

namespace palisard {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;

std::vector<uint8_t> Text(const std::string& text) { return EncodeTextReply(text); }

}  // namespace

uint32_t RandomRegistrationKey() {
  // Never destroyed: connection threads may register while the process exits.
  static Mutex* mutex = new Mutex;
  static std::random_device* source = new std::random_device;
  MutexLock lock(*mutex);
  uint32_t key = 0;
  while (key == 0) key = static_cast<uint32_t>((*source)());
  return key;
}

AdminService::AdminService(MatchState& state, Firewall& firewall, const Clock& clock, Limits limits, KeySource keys,
                           ConsoleSink& console)
    : state_(state),
      firewall_(firewall),
      clock_(clock),
      limits_(limits),
      keys_(std::move(keys)),
      console_(console),
      // While another player hosts, connections wait in the listen queue.
      loop_(
          {limits.maxConnections, limits.maxPerAddress},
          [this](Socket client, uint32_t peerAddress) { HandleAdminClient(std::move(client), peerAddress); },
          [this](std::chrono::milliseconds maxWait) {
            const uint64_t seen = state_.LinkVersion();
            if (state_.IsHosting()) return true;
            state_.WaitForLinkChange(seen, maxWait);
            return false;
          },
          // The match's players and this machine (the host's own copy, a
          // local tool) in one pool, every other address in the other.
          {[this](uint32_t peerAddress) { return (peerAddress >> 24) == 127 || state_.HasPlayerAt(peerAddress); },
           {limits.maxStrangerConnections, limits.maxPerStranger}}) {}

void AdminService::HandleAdminClient(Socket client, uint32_t peerAddress) {
  // The whole message must arrive within the time-out: a peer trickling one
  // byte at a time does not hold its connection any longer.
  const Deadline deadline(SystemClock(), limits_.messageTimeout);
  if (!SetIoTimeout(client.get(), limits_.messageTimeout).ok()) return;  // unbounded: not served
  std::vector<uint8_t> answer = ProcessAdminMessage(client.get(), peerAddress, deadline);
  // A peer gone before its answer has nothing more to be told.
  if (!answer.empty()) (void)SendAll(client.get(), answer.data(), answer.size());
  ShutdownSend(client.get());
}

std::vector<uint8_t> AdminService::ProcessAdminMessage(SocketHandle client, uint32_t peerAddress,
                                                       const Deadline& deadline) {
  auto receive = [&](uint8_t* bytes, std::size_t size) { return ReceiveExactlyBefore(client, deadline, bytes, size); };
  uint8_t headerBytes[kAdminHeaderSize];
  if (!receive(headerBytes, sizeof(headerBytes))) return {};
  std::optional<AdminHeader> header = DecodeAdminHeader(headerBytes);
  if (!header) return {};
  switch (header->type) {
    case kAdminQuery: {
      uint8_t payload[4];  // read whatever the length says
      if (!receive(payload, sizeof(payload))) return {};
      return AnswerQuery(ReadLe16(payload));
    }
    case kAdminRegister: {
      uint8_t payload[8];
      if (header->length != sizeof(payload) || !receive(payload, sizeof(payload))) return {};
      return Register(ReadLe64(payload), peerAddress);
    }
    case kAdminVoteKick: {
      uint8_t payload[24];
      if (header->length != sizeof(payload) || !receive(payload, sizeof(payload))) return {};
      return VoteKick(DecodeVoteKick(payload));
    }
    default:
      return {};
  }
}

std::vector<uint8_t> AdminService::AnswerQuery(uint16_t kind) {
  if (kind == kAdminPing) return EncodePingReply();
  if (kind != kAdminVoteCounts) return {};
  const MatchData match = state_.Snapshot();
  std::vector<VoteCount> records;
  for (const PlayerRecord& record : match.players) {
    records.push_back({record.communityId, static_cast<uint8_t>(CountVotesAgainst(match, record.communityId))});
  }
  return EncodeVoteCounts(VotesNeeded(match), records);
}

std::vector<uint8_t> AdminService::Register(uint64_t communityId, uint32_t peerAddress) {
  // The host's own copy registers over loopback; every other copy from the
  // address the game reports for its slot.
  auto admit = [peerAddress](const Ipv4Bytes& slotAddress, bool isHost) {
    return peerAddress == (isHost ? kLoopback : AddressToHostOrder(slotAddress));
  };
  std::optional<uint32_t> key = state_.RegisterPlayer(communityId, admit, keys_);
  if (!key) return Text("Invalid id provided when registering");
  return EncodeRegisterReply(*key);
}

std::vector<uint8_t> AdminService::VoteKick(const VoteKickRequest& request) {
  const VoteOutcome outcome = state_.RecordVote(request.voterId, request.key, request.targetId, clock_);
  switch (outcome.kind) {
    case VoteOutcome::kSelfVote:
      return Text("You cannot votekick yourself");
    case VoteOutcome::kInvalidId:
      return Text("Invalid id provided");
    case VoteOutcome::kTargetIsHost:
      return Text("You cannot votekick the host");
    case VoteOutcome::kInvalidKey:
      return Text("Invalid key provided");
    case VoteOutcome::kCoolingDown:
      return Text("Please wait and try again in " + std::to_string(outcome.waitSeconds) + " seconds");
    case VoteOutcome::kAlreadyVoted:
      return Text("You already voted to kick that player");
    case VoteOutcome::kRecorded:
      break;
  }
  if (outcome.kick) {
    const FirewallResult block = firewall_.BlockPlayer(outcome.targetAddress, request.targetId, BlockReason::kVotes);
    if (block.inForce()) {
      console_.Print("Kicking %" PRIu64 "\n", request.targetId);
    } else {
      console_.Print("%s", BlockFailureLine(request.targetId, outcome.targetAddress, block).c_str());
    }
  }
  // The vote stands whatever the firewall did: the voter's answer is the same.
  return Text("Votekick successful");
}

}  // namespace palisard

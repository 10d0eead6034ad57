#include "admin/admin_service.h"

#include <cinttypes>
#include <random>
#include <utility>
#include <variant>

#include "common/console_output.h"
#include "common/ipv4.h"
#include "common/mutex.h"

namespace palisard {
namespace {

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
      keyGuesses_(clock, limits.keyGuesses),
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
          {[this](uint32_t peerAddress) { return IsLoopback(peerAddress) || state_.HasPlayerAt(peerAddress); },
           {limits.maxStrangerConnections, limits.maxPerStranger}}) {}

void AdminService::HandleAdminClient(Socket client, uint32_t peerAddress) {
  // The whole message must arrive within the time-out: a peer trickling one
  // byte at a time does not hold its connection any longer.
  const Deadline deadline(SystemClock(), limits_.messageTimeout);
  if (!SetIoTimeout(client.get(), limits_.messageTimeout).ok()) return;  // unbounded: not served
  AdminRequest request;
  std::vector<uint8_t> answer;
  if (ReceiveAdminRequest(client.get(), deadline, &request).ok() && Answer(request, peerAddress, &answer).ok()) {
    // A peer gone before its answer has nothing more to be told.
    (void)SendAll(client.get(), answer.data(), answer.size());
  }
  ShutdownSend(client.get());
}

Result AdminService::Answer(const AdminRequest& request, uint32_t peerAddress, std::vector<uint8_t>* answer) {
  if (keyGuesses_.Drops(peerAddress)) return Result::Failure(Result::Kind::kRefused, 0, "guessing keys");
  if (const auto* query = std::get_if<QueryRequest>(&request)) return AnswerQuery(query->kind, answer);
  if (const auto* registration = std::get_if<RegisterRequest>(&request)) {
    *answer = Register(registration->communityId, peerAddress);
  } else {
    *answer = VoteKick(std::get<VoteKickRequest>(request), peerAddress);
  }
  return Result::Ok();
}

Result AdminService::AnswerQuery(uint16_t kind, std::vector<uint8_t>* answer) {
  if (kind == kAdminPing) {
    *answer = EncodePingReply();
    return Result::Ok();
  }
  if (kind != kAdminVoteCounts) return Result::Failure(Result::Kind::kInvalid, kind, "no such query");
  const MatchData match = state_.Snapshot();
  VoteTable table{VotesNeeded(match), {}};
  for (const PlayerRecord& record : match.players) {
    table.records.push_back({record.communityId, CountVotesAgainst(match, record.communityId)});
  }
  *answer = EncodeVoteCounts(table);
  return Result::Ok();
}

std::vector<uint8_t> AdminService::Register(uint64_t communityId, uint32_t peerAddress) {
  // The host's own copy registers over loopback; every other copy from the
  // address the game reports for its slot.
  auto admit = [peerAddress](const Ipv4Bytes& slotAddress, bool isHost) {
    return peerAddress == (isHost ? kLoopbackAddress : AddressToHostOrder(slotAddress));
  };
  std::optional<uint32_t> key = state_.RegisterPlayer(communityId, admit, keys_);
  if (!key) return Text("Invalid id provided when registering");
  return EncodeRegisterReply(*key);
}

std::vector<uint8_t> AdminService::VoteKick(const VoteKickRequest& request, uint32_t peerAddress) {
  const VoteOutcome outcome = state_.RecordVote(request.voterId, request.key, request.targetId, clock_);
  switch (outcome.kind) {
    case VoteOutcome::kSelfVote:
      return Text("You cannot votekick yourself");
    case VoteOutcome::kInvalidId:
      return Text("Invalid id provided");
    case VoteOutcome::kTargetIsHost:
      return Text("You cannot votekick the host");
    case VoteOutcome::kInvalidKey:
      // Key 0 comes from a copy that has not registered yet: no guess.
      if (request.key != 0 && keyGuesses_.CountInvalidKey(peerAddress)) {
        console_.Print("Dropping admin messages from %s for %i minutes: too many invalid vote keys\n",
                       DottedAddress(peerAddress).c_str(),
                       static_cast<int>(keyGuesses_.limits().dropFor / std::chrono::minutes(1)));
      }
      return Text("Invalid key provided");
    case VoteOutcome::kCoolingDown:
      return Text("Please wait and try again in " + std::to_string(outcome.waitSeconds) + " seconds");
    case VoteOutcome::kAlreadyVoted:
      return Text("You already voted to kick that player");
    case VoteOutcome::kRecorded:
      break;
  }
  if (outcome.kick) {
    const Result block = firewall_.BlockPlayer(outcome.targetAddress, request.targetId, BlockReason::kVotes);
    // Every vote at or past the threshold kicks, but a block that stands
    // already was told when it was made: one line for each block.
    if (block.ok()) {
      console_.Print("Kicking %" PRIu64 "\n", request.targetId);
    } else if (!InForce(block)) {
      console_.Print("%s", BlockFailureLine(request.targetId, outcome.targetAddress, block).c_str());
    }
  }
  // The vote stands whatever the firewall did: the voter's answer is the same.
  return Text("Votekick successful");
}

}  // namespace palisard

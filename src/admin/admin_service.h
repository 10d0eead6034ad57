#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "admin/admin_protocol.h"
#include "admin/key_guesses.h"
#include "common/clock.h"
#include "common/console_output.h"
#include "common/result.h"
#include "firewall/firewall.h"
#include "game/match_state.h"
#include "net/accept_loop.h"
#include "net/listener.h"

namespace palisard {

// A registration key from the system's random source; never 0. A vote is
// authenticated by its key alone, so keys must not be guessable.
uint32_t RandomRegistrationKey();

// The hosting copy's side of the protocol: answers probes and vote tables,
// registers the players' copies, counts vote-kicks and kicks through the
// firewall. The admin port faces the internet, so every connection is
// bounded in time and number.
class AdminService {
 public:
  struct Limits {
    // For the match's players and this machine: room for every copy of a
    // full match many times over, and below the usual 1,024 open files
    // together with the strangers' and the web console's caps.
    std::size_t maxConnections = 832;
    std::size_t maxPerAddress = 8;
    // Any other address (a probe, a flood) shares these, so strangers
    // cannot take the players' slots.
    std::size_t maxStrangerConnections = 64;
    std::size_t maxPerStranger = 4;
    // For the whole message, however it trickles in.
    std::chrono::milliseconds messageTimeout{10'000};
    KeyGuesses::Limits keyGuesses;
  };
  using KeySource = std::function<uint32_t()>;

  AdminService(MatchState& state, Firewall& firewall, const Clock& clock, Limits limits,
               KeySource keys = RandomRegistrationKey, ConsoleSink& console = StandardOutput());

  // Accepts only while this copy hosts the match; each connection on a
  // thread of its own. Fails at once when the listener is not listening;
  // otherwise runs until RequestStop and one more connection.
  Result AdminAcceptLoop(const Listener& listener) { return loop_.Run(listener); }
  void RequestStop() { loop_.RequestStop(); }

  // Serves one connection from `peerAddress` (host order): one message,
  // one answer at most, then the sending side is shut and the socket closed.
  void HandleAdminClient(Socket client, uint32_t peerAddress);

  // The answer to one request from `peerAddress` (host order), in
  // `answer`. Fails, and nothing is answered, for a query of an unknown
  // kind (kInvalid) or while the address's messages are dropped for
  // guessing keys (kRefused).
  Result Answer(const AdminRequest& request, uint32_t peerAddress, std::vector<uint8_t>* answer);

  const ConnectionSlots& slots() const { return loop_.slots(); }
  const ConnectionSlots& strangerSlots() const { return loop_.secondSlots(); }

 private:
  Result AnswerQuery(uint16_t kind, std::vector<uint8_t>* answer);
  std::vector<uint8_t> Register(uint64_t communityId, uint32_t peerAddress);
  // Records the vote and, when it makes the votes reach the threshold,
  // kicks the target.
  std::vector<uint8_t> VoteKick(const VoteKickRequest& request, uint32_t peerAddress);

  MatchState& state_;
  Firewall& firewall_;
  const Clock& clock_;
  Limits limits_;
  KeySource keys_;
  ConsoleSink& console_;
  KeyGuesses keyGuesses_;
  AcceptLoop loop_;  // last: its threads use the members above
};

}  // namespace palisard

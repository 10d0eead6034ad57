#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "common/clock.h"
#include "common/result.h"
#include "common/stopwatch.h"
#include "game/match_state.h"
#include "net/socket.h"

namespace palisard {

// Every copy's side of the protocol: finds the host's admin port, keeps this
// copy registered, fetches the vote table, and sends vote-kicks. Each
// exchange is one connection, bounded in time.
//
// Threads: ProbeStep (and RegisterWithHost) belong to the probe thread,
// VoteCountStep to the vote-count thread; RequestVoteKick may be called from
// any thread. Shared state lives in the match state.
class AdminClient {
 public:
  // The code of a request that reached no host: the system's code for an
  // unexpected network error.
  static constexpr int kRequestFailed = 59;

  struct Timeouts {
    std::chrono::milliseconds connect{3'000};
    std::chrono::milliseconds answer{5'000};
  };

  AdminClient(MatchState& state, const Clock& clock, Timeouts timeouts);

  // The threads: never return.
  [[noreturn]] void HostProbeThread();
  [[noreturn]] void VoteCountThread();

  // One round of each thread's work; returns how long to wait before the
  // next round.
  std::chrono::milliseconds ProbeStep();
  std::chrono::milliseconds VoteCountStep();
  // The probe thread's wait after a round: `pause`, cut short when the
  // server changes (a new host is looked for at once).
  void PauseProbe(std::chrono::milliseconds pause);

  // Ok once the host's key is stored; kRefused when the host refused (an
  // earlier key stays); the exchange's failure otherwise. An answer of
  // another type drops the registration.
  Result RegisterWithHost();
  // Ok after an exchange with the host (its text, if it sent one, in
  // `replyText`, at most 511 characters); kUnreachable with code 59
  // without a server or connection.
  Result RequestVoteKick(uint64_t targetId, std::string* replyText);

 private:
  // Connects `socket` to `link`'s admin port (127.0.0.1 while this copy
  // hosts).
  Result ConnectToHost(const HostLink& link, Socket* socket);
  // The whole answer of one exchange is due within `timeouts_.answer`,
  // however slowly the host sends it.
  Deadline AnswerDeadline() const;

  MatchState& state_;
  const Clock& clock_;
  Timeouts timeouts_;
  uint32_t lastServer_ = 0;  // server generation of the last probe
  int portsTriedInSweep_ = 0;
  Stopwatch registrationTimer_;
  Stopwatch pollTimer_;
};

}  // namespace palisard

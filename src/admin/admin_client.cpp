#include "admin/admin_client.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>
#include <vector>

#include "admin/admin_protocol.h"
#include "common/admin_ports.h"
#include "common/ipv4.h"

namespace palisard {
namespace {

using std::chrono::milliseconds;

constexpr int kAdminPortCount = kLastAdminPort - kFirstAdminPort + 1;
constexpr milliseconds kProbeInterval{2'000};
constexpr double kRegistrationAgeSeconds = 5.0;
constexpr double kPollIntervalSeconds = 10.0;
// For a while after this copy's player asked for a vote-kick, the table is
// fetched every second, so the count shows the vote's effect soon; then
// every ten seconds again, sparing the host's connections.
constexpr double kEagerPollIntervalSeconds = 1.0;
constexpr int64_t kEagerPollingMs = 30'000;
// Nothing to do until the link changes, which wakes the thread at once;
// the bound only keeps a lost wake-up from lasting.
constexpr milliseconds kUntilLinkChange{60'000};

}  // namespace

AdminClient::AdminClient(MatchState& state, const Clock& clock, Timeouts timeouts)
    : state_(state), clock_(clock), timeouts_(timeouts) {
  lastServer_ = state_.Link().serverGeneration;
  registrationTimer_.Start(clock_);
  pollTimer_.Start(clock_);
}

void AdminClient::HostProbeThread() {
  for (;;) PauseProbe(ProbeStep());
}

void AdminClient::VoteCountThread() {
  for (;;) {
    const uint64_t seen = state_.LinkVersion();
    state_.WaitForLinkChange(seen, VoteCountStep());
  }
}

void AdminClient::PauseProbe(milliseconds pause) {
  // A new server ends the pause at once.
  const Deadline deadline(clock_, pause);
  for (;;) {
    const uint64_t seen = state_.LinkVersion();
    if (deadline.Passed() || state_.Link().serverGeneration != lastServer_) return;
    state_.WaitForLinkChange(seen, deadline.Remaining());
  }
}

Deadline AdminClient::AnswerDeadline() const { return Deadline(SystemClock(), timeouts_.answer); }

Result AdminClient::ConnectToHost(const HostLink& link, Socket* socket) {
  if (link.serverIp == Ipv4Bytes{0, 0, 0, 0}) {
    return Result::Failure(Result::Kind::kUnreachable, kRequestFailed, "no server");
  }
  const Ipv4Endpoint host{link.hosting ? kLoopbackAddress : AddressToHostOrder(link.serverIp), link.hostAdminPort};
  Result result = OpenTcpSocket(socket);
  if (result.ok()) result = ConnectTo(socket->get(), host, timeouts_.connect);
  if (result.ok()) result = SetIoTimeout(socket->get(), timeouts_.answer);
  if (!result.ok()) socket->reset();
  return result;
}

milliseconds AdminClient::ProbeStep() {
  const HostLink link = state_.Link();
  if (link.serverGeneration != lastServer_) {
    lastServer_ = link.serverGeneration;
    portsTriedInSweep_ = 0;
  }
  if (link.serverIp == Ipv4Bytes{0, 0, 0, 0}) return kUntilLinkChange;
  Socket socket;
  Result answered = ConnectToHost(link, &socket);
  if (answered.ok()) {
    const Deadline deadline = AnswerDeadline();
    const std::vector<uint8_t> ping = EncodeQuery(kAdminPing);
    answered = SendAll(socket.get(), ping.data(), ping.size());
    if (answered.ok()) answered = ReceivePingReply(socket.get(), deadline);
  }

  if (!answered.ok()) {
    // Nothing there, something else than Palisard, or the host's service
    // went away (it may come back on another port): try the next port, and
    // rest after a whole sweep rather than knock on the host for ever.
    state_.HostSilent(link.serverGeneration);
    if (link.hostEnabled) portsTriedInSweep_ = 0;
    if (link.hostEnabled || ++portsTriedInSweep_ < kAdminPortCount) return milliseconds(0);
    portsTriedInSweep_ = 0;
    return kProbeInterval;
  }
  if (!state_.HostAnswered(link.serverGeneration)) return milliseconds(0);  // a new server: probe it
  portsTriedInSweep_ = 0;
  const HostLink now = state_.Link();
  const bool renew = !now.registered || now.registrationKey == 0 ||
                     registrationTimer_.ElapsedSeconds(clock_) > kRegistrationAgeSeconds;
  if (renew) {
    registrationTimer_.Start(clock_);
    // The next round tries again whatever happened.
    (void)RegisterWithHost();
  }
  return kProbeInterval;
}

Result AdminClient::RegisterWithHost() {
  const HostLink link = state_.Link();
  Socket socket;
  Result result = ConnectToHost(link, &socket);
  const Deadline deadline = AnswerDeadline();
  if (!result.ok()) return result;
  const std::vector<uint8_t> request = EncodeRegister(link.ownId);
  if (result = SendAll(socket.get(), request.data(), request.size()); !result.ok()) return result;
  uint32_t key = 0;
  result = ReceiveRegisterReply(socket.get(), deadline, &key);
  if (result.ok()) {
    state_.SetRegistration(link.serverGeneration, true, key);
  } else if (result.kind() == Result::Kind::kConflict) {
    state_.SetRegistration(link.serverGeneration, false, 0);  // whatever answered, it gave no key
  }
  return result;
}

milliseconds AdminClient::VoteCountStep() {
  const HostLink link = state_.Link();
  if (!link.gameFound || !link.hostEnabled || link.hosting) return kUntilLinkChange;
  const bool eager = link.voteRequestedAtMs && clock_.NowMs() - *link.voteRequestedAtMs < kEagerPollingMs;
  const double interval = eager ? kEagerPollIntervalSeconds : kPollIntervalSeconds;
  const double remainingMs = (interval - pollTimer_.ElapsedSeconds(clock_)) * 1000.0;
  // Sleeps to the due time; a change of host wakes the thread sooner.
  if (remainingMs > 0) return milliseconds(static_cast<int64_t>(std::ceil(remainingMs)));
  // Failed attempts wait the interval too: a host that refuses is not
  // asked again at once.
  pollTimer_.Start(clock_);
  Socket socket;
  const Deadline deadline = AnswerDeadline();
  if (!ConnectToHost(link, &socket).ok()) return milliseconds(0);
  const std::vector<uint8_t> query = EncodeQuery(kAdminVoteCounts);
  VoteTable table;
  if (!SendAll(socket.get(), query.data(), query.size()).ok() ||
      !ReceiveVoteCounts(socket.get(), deadline, &table).ok()) {
    return milliseconds(0);
  }
  std::vector<std::pair<uint64_t, uint32_t>> counts;
  for (const VoteCount& record : table.records) counts.emplace_back(record.communityId, record.votes);
  state_.ApplyVoteTable(link.serverGeneration, table.votesNeeded, counts);
  return milliseconds(0);
}

Result AdminClient::RequestVoteKick(uint64_t targetId, std::string* replyText) {
  const HostLink link = state_.Link();
  const VoteKickRequest request{link.registrationKey, link.ownId, targetId};
  Socket socket;
  const Deadline deadline = AnswerDeadline();
  if (!ConnectToHost(link, &socket).ok()) {
    return Result::Failure(Result::Kind::kUnreachable, kRequestFailed, "no connection to the host");
  }
  const std::vector<uint8_t> message = EncodeVoteKick(request);
  // Once the host was reached the request counts as made, answered or not:
  // the caller's text stays as it was without an answer.
  if (SendAll(socket.get(), message.data(), message.size()).ok()) {
    std::string text;
    if (ReceiveTextReply(socket.get(), deadline, &text).ok() && replyText != nullptr) *replyText = std::move(text);
  }
  return Result::Ok();
}

}  // namespace palisard

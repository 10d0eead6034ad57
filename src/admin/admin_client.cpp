#include "admin/admin_client.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "admin/admin_protocol.h"
#include "common/admin_ports.h"
#include "common/byte_order.h"

namespace palisard {
namespace {

using std::chrono::milliseconds;

constexpr int kAdminPortCount = kLastAdminPort - kFirstAdminPort + 1;
constexpr uint32_t kLoopback = 0x7F000001;
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
    state_.WaitForLinkChange(seen, std::max(deadline.Remaining(), milliseconds(1)));
  }
}

Deadline AdminClient::AnswerDeadline() const { return Deadline(SystemClock(), timeouts_.answer); }

Socket AdminClient::ConnectToHost(const HostLink& link) {
  if (link.serverIp == Ipv4Bytes{0, 0, 0, 0}) return Socket();
  const Ipv4Endpoint host{link.hosting ? kLoopback : AddressToHostOrder(link.serverIp), link.hostAdminPort};
  Socket socket(OpenTcpSocket());
  if (!socket.valid() || !ConnectTo(socket.get(), host, timeouts_.connect).ok() ||
      !SetIoTimeout(socket.get(), timeouts_.answer).ok()) {
    return Socket();
  }
  return socket;
}

milliseconds AdminClient::ProbeStep() {
  const HostLink link = state_.Link();
  if (link.serverGeneration != lastServer_) {
    lastServer_ = link.serverGeneration;
    portsTriedInSweep_ = 0;
  }
  if (link.serverIp == Ipv4Bytes{0, 0, 0, 0}) return kUntilLinkChange;
  bool answered = false;
  if (Socket socket = ConnectToHost(link); socket.valid()) {
    const Deadline deadline = AnswerDeadline();
    std::vector<uint8_t> ping = EncodeQuery(kAdminPing);
    std::optional<AdminHeader> header;
    if (SendAll(socket.get(), ping.data(), ping.size())) header = ReceiveAdminHeader(socket.get(), deadline);
    answered = header && header->type == kAdminQueryReply;
  }

  if (!answered) {
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
    RegisterWithHost();
  }
  return kProbeInterval;
}

void AdminClient::RegisterWithHost() {
  const HostLink link = state_.Link();
  Socket socket = ConnectToHost(link);
  const Deadline deadline = AnswerDeadline();
  if (!socket.valid()) return;
  std::vector<uint8_t> request = EncodeRegister(link.ownId);
  if (!SendAll(socket.get(), request.data(), request.size())) return;
  std::optional<AdminHeader> header = ReceiveAdminHeader(socket.get(), deadline);
  if (!header) return;
  if (header->type == kAdminTextReply) return;  // refused: an earlier key stays
  if (header->type == kAdminRegister) {
    uint8_t key[4];
    if (!ReceiveExactlyBefore(socket.get(), deadline, key, sizeof(key))) return;
    state_.SetRegistration(link.serverGeneration, true, ReadLe32(key));
    return;
  }
  state_.SetRegistration(link.serverGeneration, false, 0);
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
  Socket socket = ConnectToHost(link);
  const Deadline deadline = AnswerDeadline();
  if (!socket.valid()) return milliseconds(0);
  std::vector<uint8_t> query = EncodeQuery(kAdminVoteCounts);
  if (!SendAll(socket.get(), query.data(), query.size())) return milliseconds(0);
  std::optional<AdminHeader> header = ReceiveAdminHeader(socket.get(), deadline);
  if (!header || header->type != kAdminQueryReply) return milliseconds(0);

  uint8_t block[8];
  if (!ReceiveExactlyBefore(socket.get(), deadline, block, 4)) return milliseconds(0);
  uint16_t kind = ReadLe16(block);
  uint16_t count = std::min<uint16_t>(ReadLe16(block + 2), kAdminMaxRecords);
  if (kind != kAdminVoteCounts && count == 0) return milliseconds(0);
  if (!ReceiveExactlyBefore(socket.get(), deadline, block + 4, 4)) return milliseconds(0);
  // Nothing changes until the whole table is in: a host that stops halfway
  // leaves the last complete table standing.
  std::vector<std::pair<uint64_t, uint32_t>> counts;
  for (uint16_t i = 0; i < count; ++i) {
    uint8_t record[kVoteRecordSize];
    if (!ReceiveExactlyBefore(socket.get(), deadline, record, sizeof(record))) return milliseconds(0);
    counts.emplace_back(ReadLe64(record), record[8]);
  }
  state_.ApplyVoteTable(link.serverGeneration, ReadLe32(block + 4), counts);
  return milliseconds(0);
}

AdminResult AdminClient::RequestVoteKick(uint64_t targetId, std::string* replyText) {
  const HostLink link = state_.Link();
  const VoteKickRequest request{link.registrationKey, link.ownId, targetId};
  Socket socket = ConnectToHost(link);
  const Deadline deadline = AnswerDeadline();
  if (!socket.valid()) return kRequestFailed;
  std::vector<uint8_t> message = EncodeVoteKick(request);
  if (!SendAll(socket.get(), message.data(), message.size())) return 0;
  std::optional<AdminHeader> header = ReceiveAdminHeader(socket.get(), deadline);
  if (!header || header->type != kAdminTextReply) return 0;
  char text[kAdminMaxLength + 1] = {};
  if (!ReceiveExactlyBefore(socket.get(), deadline, text, header->length)) return 0;
  if (replyText != nullptr) replyText->assign(text, std::min<std::size_t>(header->length, kAdminMaxLength - 1));
  return 0;
}

}  // namespace palisard

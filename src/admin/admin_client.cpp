#include "admin/admin_client.h"

#include <cmath>
#include <cstring>
#include <thread>

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
// After this copy asked for a vote-kick, the table is fetched this often.
constexpr double kEagerPollIntervalSeconds = 1.0;
// Waiting for a state change that nothing times exactly (the watcher makes
// them at most ten times a second).
constexpr milliseconds kIdlePause{20};

}  // namespace

AdminClient::AdminClient(MatchState& state, const Clock& clock, Timeouts timeouts)
    : state_(state), clock_(clock), timeouts_(timeouts) {
  lastServerIp_ = state_.Link().serverIp;
  registrationTimer_.Start(clock_);
  pollTimer_.Start(clock_);
}

void AdminClient::HostProbeThread() {
  for (;;) std::this_thread::sleep_for(ProbeStep());
}

void AdminClient::VoteCountThread() {
  for (;;) std::this_thread::sleep_for(VoteCountStep());
}

Deadline AdminClient::AnswerDeadline() const { return Deadline(SystemClock(), timeouts_.answer); }

Socket AdminClient::ConnectToHost() {
  const HostLink link = state_.Link();
  if (link.serverIp == Ipv4Bytes{0, 0, 0, 0}) return Socket();
  const Ipv4Endpoint host{link.hosting ? kLoopback : AddressToHostOrder(link.serverIp), link.hostAdminPort};
  Socket socket(OpenTcpSocket());
  if (!socket.valid() || ConnectTo(socket.get(), host, static_cast<int>(timeouts_.connect.count())) != 0) {
    return Socket();
  }
  SetIoTimeout(socket.get(), static_cast<int>(timeouts_.answer.count()));
  return socket;
}

milliseconds AdminClient::ProbeStep() {
  const Ipv4Bytes serverIp = state_.Link().serverIp;
  if (serverIp == Ipv4Bytes{0, 0, 0, 0}) return kIdlePause;
  if (serverIp != lastServerIp_) {
    lastServerIp_ = serverIp;
    state_.SetHostEnabled(false);
    portsTriedInSweep_ = 0;
  }
  Socket socket = ConnectToHost();
  const Deadline deadline = AnswerDeadline();
  const bool connected = socket.valid();
  bool answered = false;
  if (connected) {
    std::vector<uint8_t> ping = EncodeQuery(kAdminPing);
    std::optional<AdminHeader> header;
    if (SendAll(socket.get(), ping.data(), ping.size())) header = ReceiveAdminHeader(socket.get(), deadline);
    answered = header && header->type == kAdminQueryReply;
  }
  socket.reset();

  if (answered) state_.SetHostEnabled(true);
  const HostLink link = state_.Link();
  if (!link.hostEnabled) {
    // Nothing there, or something else than Palisard: try the next port,
    // and rest after a whole sweep rather than knock on the host for ever.
    state_.StepHostAdminPort();
    if (++portsTriedInSweep_ < kAdminPortCount) return milliseconds(0);
    portsTriedInSweep_ = 0;
    return kProbeInterval;
  }
  portsTriedInSweep_ = 0;
  if (!connected) state_.StepHostAdminPort();  // lost: back to the first port

  const bool renew = !link.registered || link.registrationKey == 0 ||
                     registrationTimer_.ElapsedSeconds(clock_) > kRegistrationAgeSeconds;
  if (renew) {
    registrationTimer_.Start(clock_);
    RegisterWithHost();
  }
  return kProbeInterval;
}

void AdminClient::RegisterWithHost() {
  const uint64_t ownId = state_.Link().ownId;
  Socket socket = ConnectToHost();
  const Deadline deadline = AnswerDeadline();
  if (!socket.valid()) return;
  std::vector<uint8_t> request = EncodeRegister(ownId);
  if (!SendAll(socket.get(), request.data(), request.size())) return;
  std::optional<AdminHeader> header = ReceiveAdminHeader(socket.get(), deadline);
  if (!header) return;
  if (header->type == kAdminTextReply) return;  // refused: an earlier key stays
  if (header->type == kAdminRegister) {
    uint8_t key[4];
    if (!ReceiveExactlyBefore(socket.get(), deadline, key, sizeof(key))) return;
    state_.SetRegistration(true, ReadLe32(key));
    return;
  }
  state_.SetRegistration(false, 0);
}

milliseconds AdminClient::VoteCountStep() {
  const HostLink link = state_.Link();
  if (!link.gameFound || !link.hostEnabled || link.hosting) return kIdlePause;
  const double interval = link.voteRequested ? kEagerPollIntervalSeconds : kPollIntervalSeconds;
  const double remainingMs = (interval - pollTimer_.ElapsedSeconds(clock_)) * 1000.0;
  // Waits for the due time in short steps, so that a change of host is
  // noticed soon.
  if (remainingMs > 0) return std::min(kIdlePause, milliseconds(static_cast<int64_t>(std::ceil(remainingMs))));
  // Failed attempts wait the interval too: a host that refuses is not
  // asked again at once.
  pollTimer_.Start(clock_);
  Socket socket = ConnectToHost();
  const Deadline deadline = AnswerDeadline();
  if (!socket.valid()) return kIdlePause;
  std::vector<uint8_t> query = EncodeQuery(kAdminVoteCounts);
  if (!SendAll(socket.get(), query.data(), query.size())) return kIdlePause;
  std::optional<AdminHeader> header = ReceiveAdminHeader(socket.get(), deadline);
  if (!header || header->type != kAdminQueryReply) return kIdlePause;

  state_.SetVotesNeeded(0);
  uint8_t block[8];
  if (!ReceiveExactlyBefore(socket.get(), deadline, block, 4)) return kIdlePause;
  uint16_t kind = ReadLe16(block);
  uint16_t count = std::min<uint16_t>(ReadLe16(block + 2), kAdminMaxRecords);
  if (kind != kAdminVoteCounts && count == 0) return kIdlePause;
  if (!ReceiveExactlyBefore(socket.get(), deadline, block + 4, 4)) return kIdlePause;
  state_.SetVotesNeeded(ReadLe32(block + 4));
  for (uint16_t i = 0; i < count; ++i) {
    uint8_t record[kVoteRecordSize];
    if (!ReceiveExactlyBefore(socket.get(), deadline, record, sizeof(record))) break;
    uint64_t id = ReadLe64(record);
    if (id == 0) break;  // the host's first empty slot ends the table
    state_.SetVotesAgainst(id, record[8]);
  }
  return kIdlePause;
}

int AdminClient::RequestVoteKick(uint64_t targetId, std::string* replyText) {
  const HostLink link = state_.Link();
  const VoteKickRequest request{link.registrationKey, link.ownId, targetId};
  Socket socket = ConnectToHost();
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

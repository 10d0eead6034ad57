#include "bans/ban_service.h"

#include <algorithm>
#include <random>

#include "common/console_output.h"

namespace palisard {
namespace {

uint8_t RandomMaskKey() {
  std::random_device source;
  return static_cast<uint8_t>(source());
}

}  // namespace

std::string MaskText(const std::string& text, uint8_t key) {
  std::string masked = text;
  for (char& c : masked) c = static_cast<char>(c ^ key);
  return masked;
}

BanService::BanService(const Clock& clock, Options options, ConsoleSink& console)
    : clock_(clock), options_(std::move(options)), console_(console), hostKey_(RandomMaskKey()) {}

void BanService::SetHost(const std::string& host) {
  MutexLock lock(mutex_);
  host_ = MaskText(host, hostKey_);
}

std::string BanService::GetHost() const {
  MutexLock lock(mutex_);
  return MaskText(host_, hostKey_);
}

Result BanService::FindServer() {
  Ipv4Endpoint endpoint;
  std::vector<uint32_t> addresses;
  Socket probe;
  Result found = ResolveWithin(options_.resolve, GetHost(), options_.resolveLimit, &addresses);
  if (found.ok()) found = ConnectToFirst(addresses, options_.port, options_.limits.connect, &probe, &endpoint);
  if (!found.ok()) {
    console_.Print("Couldn't find Ban server..\n");
    return found;
  }
  MutexLock lock(mutex_);
  serverAddress_ = endpoint;
  return found;
}

Result BanService::SoapCall(const std::string& document, SoapOperation operation, HttpAnswer* answer) {
  Socket socket;
  if (Result opened = OpenTcpSocket(&socket); !opened.ok()) return opened;
  if (Result found = FindServer(); !found.ok()) return found;
  Ipv4Endpoint server;
  {
    MutexLock lock(mutex_);
    server = serverAddress_;
  }
  if (Result connected = ConnectTo(socket.get(), server, options_.limits.connect); !connected.ok()) {
    console_.Print("Problem connecting to Ban Service\n");
    return connected;
  }
  std::string request = "POST " + std::string(kContractPath) + " HTTP/1.1\r\n";
  request += "Host: " + GetHost() +
             "\r\n"
             "Content-Type: text/xml; charset=utf-8\r\n"
             "Content-Length: " +
             std::to_string(document.size()) +
             "\r\n"
             "SOAPAction: \"" +
             SoapAction(operation) +
             "\"\r\n"
             "\r\n" +
             document;
  return ExchangeHttp(socket.get(), request, options_.limits, answer);
}

Result BanService::AddInfraction(uint64_t reporterId, uint64_t reportedId, bool* accepted) {
  HttpAnswer answer;
  if (Result called = SoapCall(AddInfractionDocument(reporterId, reportedId), SoapOperation::kAddInfraction, &answer);
      !called.ok()) {
    return called;
  }
  std::optional<bool> value = ParseAddInfractionResult(answer.body);
  if (!value) return Result::Failure(Result::Kind::kInvalid, 0, "no AddInfractionResult in the answer");
  *accepted = *value;
  return Result::Ok();
}

Result BanService::GetBanList(std::vector<uint64_t> ids, std::size_t minimumToSend) {
  {
    MutexLock lock(mutex_);
    if (!DueLocked(ids, minimumToSend)) return Result::Ok();
  }
  HttpAnswer answer;
  Result result = SoapCall(GetBanListDocument(ids), SoapOperation::kGetBanList, &answer);
  std::vector<BanAnswer> statuses;
  if (result.ok() && IsOkAnswer(answer.message)) statuses = ParseBanStatuses(answer.body);
  // An error page, a fault or a list that names none of the asked ids
  // leaves them all due: without a pause they would be asked for again on
  // the next pass.
  const bool usable = std::any_of(statuses.begin(), statuses.end(), [&](const BanAnswer& status) {
    return status.communityId != 0 && std::find(ids.begin(), ids.end(), status.communityId) != ids.end();
  });
  if (result.ok() && !usable) result = Result::Failure(Result::Kind::kInvalid, 0, "no answer about the asked ids");
  {
    MutexLock lock(mutex_);
    if (usable) {
      retryAfterMs_.reset();
    } else {
      retryAfterMs_ = clock_.NowMs() + options_.retryAfterFailure.count();
    }
  }
  for (const BanAnswer& status : statuses) {
    UpdateBanStatus(BanStatus{status.communityId, status.banScore, status.isBanned, Stopwatch{}});
  }
  return result;
}

bool BanService::DueLocked(std::vector<uint64_t>& ids, std::size_t minimumToSend) const {
  std::size_t remaining = ids.size();
  for (uint64_t& id : ids) {
    if (!ShouldQueryLocked(id)) {
      id = 0;
      --remaining;
    }
  }
  if (remaining == 0 || remaining < minimumToSend) return false;
  // A service that failed is not asked again at once: the watcher hands
  // over the ids ten times a second.
  return !retryAfterMs_ || clock_.NowMs() >= *retryAfterMs_;
}

bool BanService::WouldAsk(const std::vector<uint64_t>& ids, std::size_t minimumToSend) const {
  std::vector<uint64_t> asked = ids;
  MutexLock lock(mutex_);
  return DueLocked(asked, minimumToSend);
}

bool BanService::ShouldQuery(uint64_t communityId) const {
  MutexLock lock(mutex_);
  return ShouldQueryLocked(communityId);
}

bool BanService::ShouldQueryLocked(uint64_t communityId) const {
  if (!streaming || communityId == 0) return false;
  auto found = banStatuses_.find(communityId);
  return found == banStatuses_.end() || found->second.status.timer.ElapsedMinutes(clock_) >= 1.0;
}

void BanService::UpdateBanStatus(BanStatus record) {
  MutexLock lock(mutex_);
  auto found = banStatuses_.find(record.communityId);
  if (found != banStatuses_.end()) {
    BanStatus& entry = found->second.status;
    entry.banScore = record.banScore;
    entry.isBanned = record.isBanned;
    entry.timer.Start(clock_);
    byAge_.splice(byAge_.end(), byAge_, found->second.age);
    return;
  }
  if (banStatuses_.size() >= std::max<std::size_t>(options_.cacheCapacity, 1)) {
    banStatuses_.erase(byAge_.front());
    byAge_.pop_front();
  }
  record.timer.Start(clock_);
  byAge_.push_back(record.communityId);
  banStatuses_.emplace(record.communityId, CacheEntry{record, std::prev(byAge_.end())});
}

std::optional<bool> BanService::IsBanned(uint64_t communityId) const {
  MutexLock lock(mutex_);
  auto found = banStatuses_.find(communityId);
  if (found == banStatuses_.end()) return std::nullopt;
  return found->second.status.isBanned;
}

}  // namespace palisard

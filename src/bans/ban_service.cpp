#include "bans/ban_service.h"

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
    : clock_(clock), options_(options), console_(console), hostKey_(RandomMaskKey()) {}

void BanService::SetHost(const std::string& host) {
  std::lock_guard<std::mutex> lock(mutex_);
  host_ = MaskText(host, hostKey_);
}

std::string BanService::GetHost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return MaskText(host_, hostKey_);
}

bool BanService::FindServer() {
  Ipv4Endpoint endpoint;
  if (ConnectToFirst(ResolveIpv4(GetHost()), options_.port, options_.limits.connect, &endpoint).valid()) {
    std::lock_guard<std::mutex> lock(mutex_);
    serverAddress_ = endpoint;
    return true;
  }
  console_.Print("Couldn't find Ban server..\n");
  return false;
}

std::optional<std::string> BanService::SoapCall(const std::string& document, const char* action) {
  Socket socket(OpenTcpSocket());
  if (!socket.valid() || !FindServer()) return std::nullopt;
  Ipv4Endpoint server;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    server = serverAddress_;
  }
  if (ConnectTo(socket.get(), server, static_cast<int>(options_.limits.connect.count())) != 0) {
    console_.Print("Problem connecting to Ban Service\n");
    return std::nullopt;
  }
  std::string request = "POST /banservices/GetBanList.asmx HTTP/1.1\r\n"
                        "Host: " + GetHost() + "\r\n"
                        "Content-Type: text/xml; charset=utf-8\r\n"
                        "Content-Length: " + std::to_string(document.size()) + "\r\n"
                        "SOAPAction: \"rosterhall/" + action + "\"\r\n"
                        "\r\n" + document;
  HttpAnswer answer;
  if (!ExchangeHttp(socket.get(), request, options_.limits, &answer)) return std::nullopt;
  return answer.body;
}

bool BanService::AddInfraction(uint64_t reporterId, uint64_t reportedId, bool* result) {
  std::optional<std::string> body = SoapCall(AddInfractionDocument(reporterId, reportedId), "AddInfraction");
  if (!body) return false;
  std::optional<bool> answer = ParseAddInfractionResult(*body);
  if (!answer) return false;
  if (result != nullptr) *result = *answer;
  return true;
}

void BanService::GetBanList(std::vector<uint64_t> ids, std::size_t minimumToSend) {
  std::size_t remaining = ids.size();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (uint64_t& id : ids) {
      if (!ShouldQueryLocked(id)) {
        id = 0;
        --remaining;
      }
    }
    if (remaining == 0 || remaining < minimumToSend) return;
    // A service that failed is not asked again at once: the watcher calls
    // ten times a second.
    if (retryAfterMs_ && clock_.NowMs() < *retryAfterMs_) return;
  }
  std::optional<std::string> body = SoapCall(GetBanListDocument(ids), "GetBanList");
  if (!body) {
    std::lock_guard<std::mutex> lock(mutex_);
    retryAfterMs_ = clock_.NowMs() + options_.retryAfterFailure.count();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    retryAfterMs_.reset();
  }
  for (const BanAnswer& answer : ParseBanStatuses(*body)) {
    UpdateBanStatus(BanStatus{answer.communityId, answer.banScore, answer.isBanned, Stopwatch{}});
  }
}

bool BanService::ShouldQuery(uint64_t communityId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ShouldQueryLocked(communityId);
}

bool BanService::ShouldQueryLocked(uint64_t communityId) const {
  if (!streaming || communityId == 0) return false;
  for (const BanStatus& entry : banStatuses_) {
    if (entry.communityId == communityId) return entry.timer.ElapsedMinutes(clock_) >= 1.0;
  }
  return true;
}

void BanService::UpdateBanStatus(BanStatus record) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (BanStatus& entry : banStatuses_) {
    if (entry.communityId != record.communityId) continue;
    entry.banScore = record.banScore;
    entry.isBanned = record.isBanned;
    entry.timer.Start(clock_);
    return;
  }
  record.timer.Start(clock_);
  banStatuses_.push_back(record);
}

std::optional<bool> BanService::IsBanned(uint64_t communityId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const BanStatus& entry : banStatuses_) {
    if (entry.communityId == communityId) return entry.isBanned;
  }
  return std::nullopt;
}

}  // namespace palisard

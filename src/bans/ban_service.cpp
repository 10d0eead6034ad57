#include "bans/ban_service.h"

namespace palisard {

void BanService::SetHost(const std::string& host) {
  std::lock_guard<std::mutex> lock(mutex_);
  host_ = host;
}

std::string BanService::GetHost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return host_;
}

}  // namespace palisard

#include "service/http/fault_log.h"

#include <algorithm>

namespace palisard {

std::optional<std::string> FaultLog::Failed(const std::string& what, Time now) {
  auto kind = std::find_if(failing_.begin(), failing_.end(), [&](const Kind& k) { return k.what == what; });
  if (kind == failing_.end()) {
    failing_.push_back({what, now, now, 0, 1});
    return "store calls fail: " + what;
  }
  kind->last = now;
  ++kind->untold;
  ++kind->total;
  if (now - kind->told < kCountEvery) return std::nullopt;
  std::string line = std::to_string(kind->untold) + " more store calls failed in the last minute: " + what;
  kind->told = now;
  kind->untold = 0;
  return line;
}

std::vector<std::string> FaultLog::Succeeded(Time now) {
  std::vector<std::string> lines;
  std::erase_if(failing_, [&](const Kind& kind) {
    if (now - kind.last < kQuiet) return false;
    lines.push_back("store calls succeed again, after " + std::to_string(kind.total) + " failed: " + kind.what);
    return true;
  });
  return lines;
}

}  // namespace palisard

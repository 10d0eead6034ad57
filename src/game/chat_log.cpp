#include "game/chat_log.h"

#include "game/game_text.h"

namespace palisard {

void ChatLog::Append(const std::string& line) {
  lines_[count_ % kLines] = CutGameText(line, kLineBytes);
  ++count_;
}

std::vector<std::string> ChatLog::Lines() const {
  std::vector<std::string> lines;
  for (uint32_t n = count_; n < count_ + kLines; ++n) lines.push_back(lines_[n % kLines]);
  return lines;
}

}  // namespace palisard

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "game/layout.h"

namespace palisard {

// The last chat lines captured from the game, kept for the web page: the
// game's text, cleaned and not escaped, each cut to what the game's line
// holds.
class ChatLog {
 public:
  static constexpr std::size_t kLines = 8;
  static constexpr std::size_t kLineBytes = layout::kChatLineStride - 1;  // the game's line less its NUL

  // Keeps `line` cut to kLineBytes, never inside a character.
  void Append(const std::string& line);
  // The kLines newest slots, oldest first; slots never written are empty.
  std::vector<std::string> Lines() const;
  // Lines captured since start; line k sits in slot k mod kLines.
  uint32_t count() const { return count_; }

 private:
  std::array<std::string, kLines> lines_;
  uint32_t count_ = 0;
};

}  // namespace palisard

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace palisard {

// The last chat lines captured from the game, kept for the web page:
// cleaned and HTML-escaped already, each cut to what its slot holds.
class ChatLog {
 public:
  static constexpr std::size_t kLines = 8;
  static constexpr std::size_t kLineSize = 160;  // with the terminator: 159 characters a line

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

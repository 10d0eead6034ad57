#include "app/console.h"

#include <cinttypes>
#include <string>
#include <vector>

#include "common/console_output.h"

namespace palisard {
namespace {

constexpr std::size_t kMaxLineLength = 254;

enum class LineRead { kLine, kTooLong, kEnd };

// Reads one line without its end (LF or CRLF). A line longer than the
// buffer is read to its end and reported as too long.
LineRead ReadConsoleLine(std::FILE* input, std::string& line) {
  line.clear();
  int c;
  while ((c = std::fgetc(input)) != EOF && c != '\n') {
    if (line.size() <= kMaxLineLength) {
      line.push_back(static_cast<char>(c));
    }
  }
  if (c == EOF && line.empty()) return LineRead::kEnd;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line.size() > kMaxLineLength ? LineRead::kTooLong : LineRead::kLine;
}

struct ListedPlayer {
  int slot;
  int64_t id;
  std::string name;
};

}  // namespace

void PrintPlayerList(const MatchState& state) {
  std::vector<ListedPlayer> listed;
  const MatchData match = state.Snapshot();
  for (std::size_t i = 0; i < match.clients.size(); ++i) {
    uint64_t id = match.clients[i].CommunityId();
    if (id != 0) {
      listed.push_back({static_cast<int>(i), static_cast<int64_t>(id), PrintableText(match.clients[i].Name())});
    }
  }
  Print("##\tCommunity ID      Name\n");
  for (const ListedPlayer& player : listed) {
    Print("%i\t%" PRId64 " %s\n", player.slot, player.id, player.name.c_str());
  }
}

ConsoleEnd RunConsole(std::FILE* input, const MatchState& state) {
  std::string line;
  for (;;) {
    LineRead result = ReadConsoleLine(input, line);
    if (result == LineRead::kEnd) return ConsoleEnd::kEndOfInput;
    if (result == LineRead::kTooLong) continue;
    if (line == "plist") {
      PrintPlayerList(state);
    } else if (line == "exit") {
      return ConsoleEnd::kExitCommand;
    }
  }
}

}  // namespace palisard

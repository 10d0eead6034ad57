#include "app/console.h"

#include <charconv>
#include <chrono>
#include <cinttypes>
#include <string>
#include <vector>

#include "common/console_output.h"
#include "common/duration_text.h"
#include "common/ipv4.h"

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

namespace {

// "blocks": each block in force with its id, address, why and time left.
void PrintBlocks(const BlockDesk& blocks) {
  const std::vector<BlockDesk::Entry> entries = blocks.List();
  if (entries.empty()) {
    Print("No blocks in force\n");
    return;
  }
  Print("Community ID\tAddress\tWhy\tLeft\tName\n");
  for (const BlockDesk::Entry& entry : entries) {
    const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(entry.left).count();
    Print("%" PRIu64 "\t%s\t%s\t%s\t%s\n", entry.communityId, DottedAddress(entry.address).c_str(),
          BlockReasonName(entry.reason), MinutesAndSeconds(seconds).c_str(), PrintableText(entry.name).c_str());
  }
}

// "unblock ID": lifts the block and withdraws the votes behind it.
void Unblock(BlockDesk& blocks, const std::string& idText) {
  uint64_t id = 0;
  const char* end = idText.data() + idText.size();
  const auto [stop, error] = std::from_chars(idText.data(), end, id);
  if (error != std::errc() || stop != end || id == 0) {
    Print("Not a community id: %s\n", PrintableText(idText).c_str());
    return;
  }
  Print("%s\n", UnblockMessage(id, blocks.Unblock(id)).c_str());
}

void PrintHelp() {
  Print("plist        the players of the match\n");
  Print("blocks       the blocks in force while this copy hosts\n");
  Print("unblock ID   lift the block of a player and withdraw the votes behind it\n");
  Print("help         this list\n");
  Print("exit         lift every block and quit\n");
}

}  // namespace

ConsoleEnd RunConsole(std::FILE* input, const MatchState& state, BlockDesk& blocks) {
  std::string line;
  for (;;) {
    LineRead result = ReadConsoleLine(input, line);
    if (result == LineRead::kEnd) return ConsoleEnd::kEndOfInput;
    if (result == LineRead::kTooLong) continue;
    if (line == "plist") {
      PrintPlayerList(state);
    } else if (line == "blocks") {
      PrintBlocks(blocks);
    } else if (line.rfind("unblock ", 0) == 0) {
      Unblock(blocks, line.substr(sizeof("unblock ") - 1));
    } else if (line == "help") {
      PrintHelp();
    } else if (line == "exit") {
      return ConsoleEnd::kExitCommand;
    }
  }
}

}  // namespace palisard

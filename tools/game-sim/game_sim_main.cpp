// A stand-in for the game: a process that Palisard finds and reads like the
// real one, driven by text commands on standard input, one per line:
//   own ID                          the local player's community id
//   join SLOT ID A.B.C.D PORT NAME  a player takes a slot (NAME may hold blanks)
//   leave SLOT                      the slot empties
//   chat TEXT                       a chat line
//   server A.B.C.D PORT             the server this player is connected to
//   slots N                         the number of client slots
//   map TEXT                        the server-info text ("-" for none)
//   quit
// Each command is answered "ok" or "error: ..." on standard output.
// Option: --omit N leaves signature N (1..5) out of the code area.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "game_areas.h"
#include "game_layout.h"

namespace palisard::gamesim {
namespace {

bool ParseAddress(const std::string& text, Ipv4Bytes* address) {
  unsigned a, b, c, d;
  char extra;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 || a > 255 || b > 255 || c > 255 ||
      d > 255) {
    return false;
  }
  *address = {static_cast<uint8_t>(a), static_cast<uint8_t>(b), static_cast<uint8_t>(c), static_cast<uint8_t>(d)};
  return true;
}

std::string RestOfLine(std::istringstream& in) {
  std::string rest;
  std::getline(in >> std::ws, rest);
  return rest;
}

// Carries out one command; returns the error text, empty on success.
std::string Execute(GameLayout& game, const std::string& line, bool* quit) {
  std::istringstream in(line);
  std::string command;
  in >> command;
  if (command == "own") {
    uint64_t id;
    if (!(in >> id)) return "own ID";
    game.SetOwnId(id);
  } else if (command == "join") {
    int slot;
    uint64_t id;
    std::string address;
    unsigned port;
    Ipv4Bytes bytes;
    if (!(in >> slot >> id >> address >> port) || !ParseAddress(address, &bytes) || port > 65535) {
      return "join SLOT ID A.B.C.D PORT NAME";
    }
    game.SetClient(slot, GameClientEntry::For(RestOfLine(in), bytes, static_cast<uint16_t>(port), id));
  } else if (command == "leave") {
    int slot;
    if (!(in >> slot)) return "leave SLOT";
    game.SetClient(slot, GameClientEntry{});
  } else if (command == "chat") {
    game.AddChatLine(RestOfLine(in));
  } else if (command == "server") {
    std::string address;
    unsigned port;
    Ipv4Bytes bytes;
    if (!(in >> address >> port) || !ParseAddress(address, &bytes) || port > 65535) return "server A.B.C.D PORT";
    game.SetServer(bytes, static_cast<uint16_t>(port));
  } else if (command == "slots") {
    int32_t slots;
    if (!(in >> slots)) return "slots N";
    game.SetSlotCount(slots);
  } else if (command == "map") {
    std::string text = RestOfLine(in);
    game.SetMapText(text == "-" ? "" : text);
  } else if (command == "quit") {
    *quit = true;
  } else {
    return "unknown command";
  }
  return "";
}

}  // namespace
}  // namespace palisard::gamesim

int main(int argc, char** argv) {
  using namespace palisard::gamesim;
  int omit = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--omit") == 0 && i + 1 < argc) omit = std::atoi(argv[++i]);
  }
  GameAreas areas;
  if (!BecomeGameProcess(&areas)) return 1;
  GameLayout game(areas.code, areas.data, omit);
  std::printf("ready\n");
  std::fflush(stdout);

  std::string line;
  bool quit = false;
  while (!quit && std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::string error = Execute(game, line, &quit);
    std::printf(error.empty() ? "ok\n" : "error: %s\n", error.c_str());
    std::fflush(stdout);
  }
  return 0;
}

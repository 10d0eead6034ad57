#pragma once

#include <cstdio>

#include "app/block_desk.h"
#include "game/match_state.h"

namespace palisard {

enum class ConsoleEnd { kExitCommand, kEndOfInput };

// Serves the console commands ("plist", "blocks", "unblock ID", "help",
// "exit") from `input` on the calling thread. Returns when "exit" is read or
// the input ends. Lines longer than the 254-character line buffer are
// ignored whole.
ConsoleEnd RunConsole(std::FILE* input, const MatchState& state, BlockDesk& blocks);

// "plist": the header, then one line per occupied slot.
void PrintPlayerList(const MatchState& state);

}  // namespace palisard

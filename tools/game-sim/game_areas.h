#pragma once

#include "game_layout.h"

namespace palisard::gamesim {

struct GameAreas {
  GameLayout::Area code;
  GameLayout::Area data;
};

// Makes this process look like the game to Palisard: named "iw5mp.exe", with
// a code area inside the searched range from 0x400000 and a data area below
// 4 GiB. False (with a message on standard error) when that cannot be done.
bool BecomeGameProcess(GameAreas* areas);

}  // namespace palisard::gamesim

#include "game/layout.h"

#include <gtest/gtest.h>

namespace palisard {
namespace {

// The game's own numbers, written out here rather than taken from the
// header: the reader and the game stand-in both follow layout.h, so only
// this table notices when it drifts from the game.
TEST(LayoutTest, MatchesTheGamesLayout) {
  struct Row {
    const char* what;
    std::size_t value;
    std::size_t game;
  };
  const Row rows[] = {
      {"own id size", layout::kOwnIdSize, 8},
      {"client entry size", layout::kClientSize, 320},
      {"client name", layout::kClientNameOffset, 0},
      {"client address", layout::kClientAddressOffset, 174},
      {"client port", layout::kClientPortOffset, 178},
      {"client community id", layout::kClientIdOffset, 220},
      {"server info size", layout::kServerInfoSize, 404},
      {"server text", layout::kServerTextOffset, 36},
      {"slot count", layout::kSlotCountOffset, 328},
      {"chat size", layout::kChatSize, 1320},
      {"chat ring", layout::kChatRingLines, 4},
      {"chat line stride", layout::kChatLineStride, 160},
      {"chat head", layout::kChatHeadOffset, 1312},
      {"chat start", layout::kChatStartOffset, 1316},
      {"server address size", layout::kServerAddressSize, 6},
      {"server port", layout::kServerPortOffset, 4},
      {"own id operand", layout::kOwnIdOperandOffset, 1},
      {"chat operand", layout::kChatOperandOffset, 2},
      {"clients operand", layout::kClientsOperandOffset, 64},
      {"clients past operand", layout::kClientsPastOperand, 48},
      {"server info operand", layout::kServerInfoOperandOffset, 2},
      {"server address operand", layout::kServerAddressOperandOffset, 1},
      {"server address past operand", layout::kServerAddressPastOperand, 7814},
  };
  for (const Row& row : rows) EXPECT_EQ(row.value, row.game) << row.what;
}

}  // namespace
}  // namespace palisard

#pragma once

#include <cstddef>
#include <cstdint>

// The game's own byte layouts: every block Palisard reads from the game's
// memory, and where the signatures' operands lead. The watcher, the match
// state and the game stand-in all take them from here. Integers are
// little-endian, as the game stores them.
namespace palisard::layout {

// The local player's 64-bit community id.
inline constexpr std::size_t kOwnIdSize = 8;

// One entry of the client table; the table holds one per slot.
inline constexpr std::size_t kClientSize = 320;
inline constexpr std::size_t kClientNameOffset = 0;       // NUL-terminated, colour codes included
inline constexpr std::size_t kClientAddressOffset = 174;  // IPv4, first octet first
inline constexpr std::size_t kClientPortOffset = 178;     // 16 bits, kept as stored
inline constexpr std::size_t kClientIdOffset = 220;       // 64 bits; 0 = empty slot

// The server-info block.
inline constexpr std::size_t kServerInfoSize = 404;
inline constexpr std::size_t kServerTextOffset = 36;  // NUL-terminated; a new slot count counts only while set
inline constexpr std::size_t kSlotCountOffset = 328;  // signed 32 bits

// The chat block: a ring of lines, then two signed 32-bit line numbers.
inline constexpr std::size_t kChatSize = 1320;
inline constexpr std::size_t kChatRingLines = 4;  // line n is at (n mod 4) x the stride
inline constexpr std::size_t kChatLineStride = 160;
inline constexpr std::size_t kChatHeadOffset = 1312;   // lines the game has produced so far
inline constexpr std::size_t kChatStartOffset = 1316;  // where capture starts right after attaching

// The address of the server the local player is connected to.
inline constexpr std::size_t kServerAddressSize = 6;  // IPv4, first octet first, then
inline constexpr std::size_t kServerPortOffset = 4;   // a 16-bit port

// Where each signature's 32-bit operand sits in its pattern, and how far
// past the operand's address the block begins.
inline constexpr uint32_t kOwnIdOperandOffset = 1;
inline constexpr uint32_t kChatOperandOffset = 2;
inline constexpr uint32_t kClientsOperandOffset = 64;
inline constexpr uint32_t kClientsPastOperand = 48;
inline constexpr uint32_t kServerInfoOperandOffset = 2;
inline constexpr uint32_t kServerAddressOperandOffset = 1;
inline constexpr uint32_t kServerAddressPastOperand = 7814;

}  // namespace palisard::layout

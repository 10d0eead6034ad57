#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/console_output.h"
#include "game/match_state.h"
#include "game/process_memory.h"

namespace palisard {

// A masked byte pattern in the game's code whose 32-bit operand, plus an
// addend, is the address of one block of game data.
struct Signature {
  const char* mask;  // "x": the byte must match; anything else: any byte
  std::vector<uint8_t> pattern;
  uint32_t operandOffset;
  uint32_t addend;
  uint32_t GameAddresses::*field;
  const char* failureMessage;
};

// The five, in the order they are tried.
const std::array<Signature, 5>& GameSignatures();

// One copy of a range of the game's memory, read in large pieces. Pages that
// could not be read hold zeros and never take part in a match.
class MemorySnapshot {
 public:
  static MemorySnapshot Read(ProcessMemory& memory, uint32_t start, uint32_t size);

  uint32_t start() const { return start_; }
  const uint8_t* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }
  // True when every page touched by [offset, offset + length) was read.
  bool Readable(std::size_t offset, std::size_t length) const;

 private:
  uint32_t start_ = 0;
  std::size_t size_ = 0;
  std::unique_ptr<uint8_t[]> bytes_;  // not zeroed first: it is read over
  std::vector<bool> pageRead_;
};

// The game address of the first match of `pattern` under `mask` in the
// snapshot, or 0. The pattern is as long as the mask.
uint32_t ScanGameMemory(const MemorySnapshot& image, const uint8_t* pattern, const char* mask);

// Finds all five signatures in order and stores their addresses in `state`
// (which also gets its slots cleared). At the first one missing, prints its
// message and returns false; the addresses found so far stay stored.
bool ResolveGameAddresses(ProcessMemory& memory, MatchState& state, ConsoleSink& console = StandardOutput());

}  // namespace palisard

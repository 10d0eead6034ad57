#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace palisard {

// Read access to the opened game process. Closing it is destroying it.
class ProcessMemory {
 public:
  virtual ~ProcessMemory() = default;
  // Reads `size` bytes at the game's `address`; false unless all were read.
  virtual bool Read(uint64_t address, void* buffer, std::size_t size) = 0;
};

// The system's table of processes, as far as finding the game goes.
class GameProcesses {
 public:
  virtual ~GameProcesses() = default;
  // The id of the first process named exactly kGameProcessName, or 0.
  virtual uint32_t FindGameProcess() = 0;
  // Opens the process for reading only; null when that is refused.
  virtual std::unique_ptr<ProcessMemory> OpenGameProcess(uint32_t processId) = 0;
};

inline constexpr const char* kGameProcessName = "iw5mp.exe";

// Where the game's image lies, and so where the signatures are searched.
inline constexpr uint32_t kScanStart = 0x400000;
inline constexpr uint32_t kScanSize = 0x3F0000;  // 1008 pages
inline constexpr uint32_t kPageSize = 4096;

// Toolhelp and ReadProcessMemory on Windows; /proc and process_vm_readv on
// Linux, where the game runs under Wine or Proton at the same addresses.
std::unique_ptr<GameProcesses> CreateSystemGameProcesses();

}  // namespace palisard

#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace palisard {

// The 16-byte key of one block: the community id little-endian in the first
// 8 bytes, zeros after (on Windows it is the filter's GUID).
using BlockKey = std::array<uint8_t, 16>;

BlockKey MakeBlockKey(uint64_t communityId);
uint64_t BlockKeyCommunityId(const BlockKey& key);

// The operating system's packet filter, as the block list needs it: one
// filter per blocked address that drops its inbound IPv4 traffic. Results are
// 0 or the system's own error code. Not thread-safe: the Firewall serialises
// every call.
class FilterEngine {
 public:
  // The engine already holds a filter with this key (FWP_E_ALREADY_EXISTS).
  static constexpr uint32_t kAlreadyExists = 0x80320009;

  virtual ~FilterEngine() = default;
  virtual uint32_t Open() = 0;
  // Adds a filter dropping inbound packets from `address` (host order); the
  // engine's id for it goes to `filterId`.
  virtual uint32_t AddBlockFilter(const BlockKey& key, uint32_t address, uint64_t* filterId) = 0;
  virtual uint32_t DeleteFilterById(uint64_t filterId) = 0;
  virtual uint32_t DeleteFilterByKey(const BlockKey& key) = 0;
  // Removes everything the engine made and releases it.
  virtual void Close() = 0;
};

// The platform's engine: the Windows Filtering Platform, or nftables.
std::unique_ptr<FilterEngine> CreateSystemFilterEngine();

}  // namespace palisard

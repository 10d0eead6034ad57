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
// filter per blocked address that drops its inbound IPv4 traffic. Not
// thread-safe: the Firewall serialises every call.
//
// Results are 0 or an engine error in HRESULT form (top bit set): WFP's own
// codes as they are, a Win32 code as HRESULT_FROM_WIN32, an errno as
// ErrnoEngineError. So an OS error never reads as one of the Firewall's own
// small codes (1, 101, 102, 1247) on its way to the console.
class FilterEngine {
 public:
  // The engine already holds a filter with this key (FWP_E_ALREADY_EXISTS).
  static constexpr uint32_t kAlreadyExists = 0x80320009;
  // No filter with that id or key (FWP_E_FILTER_NOT_FOUND): it is gone.
  static constexpr uint32_t kFilterNotFound = 0x80320003;
  // A filter with the key is in force and cannot be replaced by this
  // session (HRESULT of ERROR_OBJECT_ALREADY_EXISTS).
  static constexpr uint32_t kKeyTaken = 0x80071392;

  virtual ~FilterEngine() = default;
  virtual uint32_t Open() = 0;
  // Adds a filter dropping inbound packets from `address` (host order); the
  // engine's id for it goes to `filterId`.
  virtual uint32_t AddBlockFilter(const BlockKey& key, uint32_t address, uint64_t* filterId) = 0;
  // kFilterNotFound when no filter has that id.
  virtual uint32_t DeleteFilterById(uint64_t filterId) = 0;
  virtual uint32_t DeleteFilterByKey(const BlockKey& key) = 0;
  // Removes everything the engine made and releases it.
  virtual void Close() = 0;
};

// An errno as an engine error: a customer-defined HRESULT (0xA0000000) with
// the errno in its low 16 bits, so EPERM reads "a0000001", never 1.
uint32_t ErrnoEngineError(int error);

// The platform's engine: the Windows Filtering Platform, or nftables.
std::unique_ptr<FilterEngine> CreateSystemFilterEngine();

}  // namespace palisard

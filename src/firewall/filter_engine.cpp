#include "firewall/filter_engine.h"

#include "common/byte_order.h"

namespace palisard {

BlockKey MakeBlockKey(uint64_t communityId) {
  BlockKey key{};
  WriteLe64(key.data(), communityId);
  return key;
}

uint64_t BlockKeyCommunityId(const BlockKey& key) { return ReadLe64(key.data()); }

uint32_t ErrnoEngineError(int error) { return 0xA0000000u | (static_cast<uint32_t>(error) & 0xFFFF); }

}  // namespace palisard

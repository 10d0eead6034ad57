#include "firewall/filter_engine.h"

#include "common/byte_order.h"

namespace palisard {

BlockKey MakeBlockKey(uint64_t communityId) {
  BlockKey key{};
  WriteLe64(key.data(), communityId);
  return key;
}

uint64_t BlockKeyCommunityId(const BlockKey& key) { return ReadLe64(key.data()); }

}  // namespace palisard

#include "helpers/memory_filter_engine.h"

namespace palisard {

uint32_t MemoryFilterEngine::Open() {
  if (openError_ != 0) return openError_;
  open_ = true;
  ++openCount_;
  return 0;
}

uint32_t MemoryFilterEngine::AddBlockFilter(const BlockKey& key, uint32_t address, uint64_t* filterId) {
  if (addError_) {
    uint32_t error = *addError_;
    addError_.reset();
    return error;
  }
  for (const auto& [id, filter] : filters_) {
    if (filter.key == key) return kAlreadyExists;
  }
  *filterId = InjectFilter(key, address);
  return 0;
}

uint64_t MemoryFilterEngine::InjectFilter(const BlockKey& key, uint32_t address) {
  uint64_t id = nextId_++;
  filters_[id] = Filter{key, address};
  return id;
}

uint32_t MemoryFilterEngine::DeleteFilterById(uint64_t filterId) {
  if (deleteError_ != 0) return deleteError_;
  return filters_.erase(filterId) == 1 ? 0 : kFilterNotFound;
}

uint32_t MemoryFilterEngine::DeleteFilterByKey(const BlockKey& key) {
  if (deleteError_ != 0) return deleteError_;
  for (auto it = filters_.begin(); it != filters_.end(); ++it) {
    if (it->second.key == key) {
      filters_.erase(it);
      return 0;
    }
  }
  return kFilterNotFound;
}

void MemoryFilterEngine::Close() { open_ = false; }

}  // namespace palisard

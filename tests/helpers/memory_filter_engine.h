#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "firewall/filter_engine.h"

namespace palisard {

// An engine that only records its filters, for tests. Like the Windows
// engine it refuses a second filter with the same key.
class MemoryFilterEngine final : public FilterEngine {
 public:
  struct Filter {
    BlockKey key;
    uint32_t address;
  };

  uint32_t Open() override;
  uint32_t AddBlockFilter(const BlockKey& key, uint32_t address, uint64_t* filterId) override;
  uint32_t DeleteFilterById(uint64_t filterId) override;
  uint32_t DeleteFilterByKey(const BlockKey& key) override;
  void Close() override;

  // Test controls and views.
  void FailOpenWith(uint32_t code) { openError_ = code; }
  void FailNextAddWith(uint32_t code) { addError_ = code; }
  // Every delete (by id or key) answers `code` until called with 0.
  void FailDeletesWith(uint32_t code) { deleteError_ = code; }
  // Puts a filter in place as if an earlier run had left it behind.
  uint64_t InjectFilter(const BlockKey& key, uint32_t address);
  const std::map<uint64_t, Filter>& filters() const { return filters_; }
  bool isOpen() const { return open_; }
  int openCount() const { return openCount_; }

 private:
  std::map<uint64_t, Filter> filters_;
  uint64_t nextId_ = 1000;
  uint32_t openError_ = 0;
  std::optional<uint32_t> addError_;
  uint32_t deleteError_ = 0;
  bool open_ = false;
  int openCount_ = 0;
};

}  // namespace palisard

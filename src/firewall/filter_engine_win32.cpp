#include <windows.h>
// After windows.h, whose declarations it needs.
#include <fwpmu.h>

#include <cstring>

#include "firewall/filter_engine.h"

namespace palisard {
namespace {

// mingw-w64's headers declare the API but lack these two definitions; the
// values are the documented ones.
const GUID kLayerInboundTransportV4 = {0x5926dfc8, 0xe3cf, 0x4426, {0xa2, 0x83, 0xdc, 0x39, 0x3f, 0x5d, 0x0f, 0x9d}};
const GUID kConditionIpRemoteAddress = {0xb235ae9a, 0x1d64, 0x49b8, {0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45}};
// The program's own session, the same on every run.
const GUID kSessionKey = {0x6a1f3c52, 0x9b7e, 0x4d1a, {0x8c, 0x35, 0x2f, 0x0e, 0x7b, 0x9d, 0x4a, 0x61}};
// Documented value; mingw-w64's headers lack the name. Whatever the session
// adds goes when the session ends, also when the process is killed or
// crashes past every handler, so no block outlives the program. The exit
// paths still delete every filter first.
constexpr UINT32 kSessionFlagDynamic = 0x00000001;

// WFP and RPC answer in HRESULT form already; a plain Win32 code (such as
// 0x6E4 from an engine that is not supported) is put in that form too, so
// it never reads as one of the block list's own small codes.
uint32_t EngineError(DWORD code) {
  if (code == 0 || (code & 0x80000000u) != 0) return code;
  return 0x80070000u | (code & 0xFFFF);  // HRESULT_FROM_WIN32
}

GUID ToGuid(const BlockKey& key) {
  GUID guid;
  static_assert(sizeof(guid) == sizeof(BlockKey));
  std::memcpy(&guid, key.data(), sizeof(guid));
  return guid;
}

class WfpFilterEngine final : public FilterEngine {
 public:
  ~WfpFilterEngine() override { Close(); }

  uint32_t Open() override {
    FWPM_SESSION0 session{};
    session.sessionKey = kSessionKey;
    session.flags = kSessionFlagDynamic;
    return EngineError(FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &engine_));
  }

  uint32_t AddBlockFilter(const BlockKey& key, uint32_t address, uint64_t* filterId) override {
    FWP_V4_ADDR_AND_MASK addressAndMask{};
    addressAndMask.addr = address;
    addressAndMask.mask = 0xFFFFFFFF;

    FWPM_FILTER_CONDITION0 condition{};
    condition.fieldKey = kConditionIpRemoteAddress;
    condition.matchType = FWP_MATCH_EQUAL;
    condition.conditionValue.type = FWP_V4_ADDR_MASK;
    condition.conditionValue.v4AddrMask = &addressAndMask;

    FWPM_FILTER0 filter{};
    filter.filterKey = ToGuid(key);
    filter.displayData.name = const_cast<wchar_t*>(L"Palisard SubLayer");
    filter.layerKey = kLayerInboundTransportV4;
    filter.weight.type = FWP_EMPTY;
    filter.numFilterConditions = 1;
    filter.filterCondition = &condition;
    filter.action.type = FWP_ACTION_BLOCK;

    UINT64 id = 0;
    DWORD result = FwpmFilterAdd0(engine_, &filter, nullptr, &id);
    if (result == 0) *filterId = id;
    return EngineError(result);
  }

  uint32_t DeleteFilterById(uint64_t filterId) override {
    return EngineError(FwpmFilterDeleteById0(engine_, filterId));
  }

  uint32_t DeleteFilterByKey(const BlockKey& key) override {
    GUID guid = ToGuid(key);
    return EngineError(FwpmFilterDeleteByKey0(engine_, &guid));
  }

  void Close() override {
    if (engine_ == nullptr) return;
    FwpmEngineClose0(engine_);
    engine_ = nullptr;
  }

 private:
  HANDLE engine_ = nullptr;
};

}  // namespace

std::unique_ptr<FilterEngine> CreateSystemFilterEngine() { return std::make_unique<WfpFilterEngine>(); }

}  // namespace palisard

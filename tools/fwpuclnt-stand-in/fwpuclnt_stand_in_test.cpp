#include <windows.h>
// After windows.h, whose declarations it needs.
#include <fwpmu.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace palisard {
namespace {

const GUID kLayerInboundTransportV4 = {0x5926dfc8, 0xe3cf, 0x4426, {0xa2, 0x83, 0xdc, 0x39, 0x3f, 0x5d, 0x0f, 0x9d}};
const GUID kConditionIpRemoteAddress = {0xb235ae9a, 0x1d64, 0x49b8, {0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45}};
const GUID kOtherGuid = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};

using EngineOpen = DWORD(WINAPI*)(const wchar_t*, UINT32, SEC_WINNT_AUTH_IDENTITY_W*, const FWPM_SESSION0*, HANDLE*);
using EngineClose = DWORD(WINAPI*)(HANDLE);
using FilterAdd = DWORD(WINAPI*)(HANDLE, const FWPM_FILTER0*, PSECURITY_DESCRIPTOR, UINT64*);
using FilterDeleteById = DWORD(WINAPI*)(HANDLE, UINT64);
using FilterDeleteByKey = DWORD(WINAPI*)(HANDLE, const GUID*);

// An export of `library`, by name (through void(*)(), the cast that says
// "any function").
template <typename Function>
Function Export(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// The build passes a Unix path; Wine sees the root file system as Z:.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

// A filter as the program makes it; each case below spoils one field.
struct FilterParts {
  FWP_V4_ADDR_AND_MASK addressAndMask{0xC6120009, 0xFFFFFFFF};
  FWPM_FILTER_CONDITION0 condition{};
  FWPM_FILTER0 filter{};
  FilterParts() {
    condition.fieldKey = kConditionIpRemoteAddress;
    condition.matchType = FWP_MATCH_EQUAL;
    condition.conditionValue.type = FWP_V4_ADDR_MASK;
    condition.conditionValue.v4AddrMask = &addressAndMask;
    filter.filterKey = kOtherGuid;
    filter.displayData.name = const_cast<wchar_t*>(L"Palisard SubLayer");
    filter.layerKey = kLayerInboundTransportV4;
    filter.weight.type = FWP_EMPTY;
    filter.numFilterConditions = 1;
    filter.filterCondition = &condition;
    filter.action.type = FWP_ACTION_BLOCK;
  }
};

// The stand-in loaded by path, in a fresh working directory (where it
// keeps its log and its lasting filters).
class FilteringStandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "fwp-stand-in-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir_.c_str(), nullptr);
    GetCurrentDirectoryA(MAX_PATH, previous_);
    SetCurrentDirectoryA(dir_.c_str());
    library_ = LoadLibraryA(WindowsPath(FWPUCLNT_STAND_IN).c_str());
    ASSERT_NE(library_, nullptr);
    open = Export<EngineOpen>(library_, "FwpmEngineOpen0");
    close = Export<EngineClose>(library_, "FwpmEngineClose0");
    add = Export<FilterAdd>(library_, "FwpmFilterAdd0");
    deleteById = Export<FilterDeleteById>(library_, "FwpmFilterDeleteById0");
    deleteByKey = Export<FilterDeleteByKey>(library_, "FwpmFilterDeleteByKey0");
    ASSERT_TRUE(open && close && add && deleteById && deleteByKey);
  }
  void TearDown() override {
    if (library_ != nullptr) FreeLibrary(library_);
    SetCurrentDirectoryA(previous_);
    DeleteFileA((dir_ + "\\fwpuclnt-calls.log").c_str());
    DeleteFileA((dir_ + "\\fwpuclnt-lasting-filters.txt").c_str());
    RemoveDirectoryA(dir_.c_str());
  }

  HANDLE Open(UINT32 flags, const GUID& key = kOtherGuid) {
    FWPM_SESSION0 session{};
    session.sessionKey = key;
    session.flags = flags;
    HANDLE engine = nullptr;
    EXPECT_EQ(open(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &engine), 0u);
    return engine;
  }
  std::string Lasting() {
    std::ifstream file("fwpuclnt-lasting-filters.txt");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  EngineOpen open = nullptr;
  EngineClose close = nullptr;
  FilterAdd add = nullptr;
  FilterDeleteById deleteById = nullptr;
  FilterDeleteByKey deleteByKey = nullptr;

 private:
  std::string dir_;
  char previous_[MAX_PATH] = {};
  HMODULE library_ = nullptr;
};

TEST_F(FilteringStandInTest, AnswersEachDepartureFromTheContractWithItsError) {
  FWPM_SESSION0 session{};
  HANDLE engine = nullptr;
  EXPECT_EQ(open(L"server", RPC_C_AUTHN_WINNT, nullptr, &session, &engine), DWORD(FWP_E_INVALID_PARAMETER));
  EXPECT_EQ(open(nullptr, 9, nullptr, &session, &engine), 1747u);  // RPC_S_UNKNOWN_AUTHN_SERVICE
  session.flags = 0x2;
  EXPECT_EQ(open(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &engine), DWORD(FWP_E_INVALID_FLAGS));

  engine = Open(0x1);
  static const GUID zero{};
  struct Case {
    const char* field;
    std::function<void(FilterParts&)> spoil;
    DWORD expected;
  };
  const Case cases[] = {
      {"displayData.name", [](FilterParts& f) { f.filter.displayData.name = nullptr; }, DWORD(FWP_E_NULL_DISPLAY_NAME)},
      {"flags", [](FilterParts& f) { f.filter.flags = 0x1; }, 0x8032000Bu},  // lasting, in a dynamic session
      {"providerKey", [](FilterParts& f) { f.filter.providerKey = const_cast<GUID*>(&kOtherGuid); },
       DWORD(FWP_E_PROVIDER_NOT_FOUND)},
      {"layerKey", [](FilterParts& f) { f.filter.layerKey = kOtherGuid; }, DWORD(FWP_E_LAYER_NOT_FOUND)},
      {"subLayerKey", [](FilterParts& f) { f.filter.subLayerKey = kOtherGuid; }, DWORD(FWP_E_SUBLAYER_NOT_FOUND)},
      {"weight", [](FilterParts& f) { f.filter.weight.type = FWP_UINT32; }, DWORD(FWP_E_INVALID_WEIGHT)},
      {"numFilterConditions", [](FilterParts& f) { f.filter.numFilterConditions = 0; }, DWORD(FWP_E_INVALID_PARAMETER)},
      {"fieldKey", [](FilterParts& f) { f.condition.fieldKey = zero; }, DWORD(FWP_E_CONDITION_NOT_FOUND)},
      {"matchType", [](FilterParts& f) { f.condition.matchType = FWP_MATCH_GREATER; },
       DWORD(FWP_E_MATCH_TYPE_MISMATCH)},
      {"conditionValue.type", [](FilterParts& f) { f.condition.conditionValue.type = FWP_UINT16; },
       DWORD(FWP_E_TYPE_MISMATCH)},
      {"mask", [](FilterParts& f) { f.addressAndMask.mask = 0xFF00FF00; }, DWORD(FWP_E_INVALID_NET_MASK)},
      {"action.type", [](FilterParts& f) { f.filter.action.type = FWP_ACTION_CALLOUT_TERMINATING; },
       DWORD(FWP_E_INVALID_ACTION_TYPE)},
      {"none: the program's own filter", [](FilterParts&) {}, 0u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    FilterParts parts;
    c.spoil(parts);
    UINT64 id = 0;
    EXPECT_EQ(add(engine, &parts.filter, nullptr, &id), c.expected);
  }
  FilterParts parts;
  EXPECT_EQ(add(reinterpret_cast<HANDLE>(0x1234), &parts.filter, nullptr, nullptr), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(close(engine), 0u);
}

// A dynamic session's filters go with it; a plain session's last (in the
// file), keep their key taken, and go only when deleted.
TEST_F(FilteringStandInTest, DynamicFiltersGoWithTheirSessionOthersLast) {
  const GUID secondSession = {0x5, 0x6, 0x7, {8, 8, 8, 8, 8, 8, 8, 8}};
  HANDLE dynamic = Open(0x1);
  HANDLE plain = Open(0x0, secondSession);
  FilterParts first;
  FilterParts second;
  second.filter.filterKey = secondSession;
  UINT64 firstId = 0;
  UINT64 secondId = 0;
  ASSERT_EQ(add(dynamic, &first.filter, nullptr, &firstId), 0u);
  ASSERT_EQ(add(plain, &second.filter, nullptr, &secondId), 0u);
  EXPECT_NE(firstId, secondId);
  EXPECT_EQ(close(dynamic), 0u);
  EXPECT_EQ(close(plain), 0u);
  EXPECT_EQ(Lasting().find("c6120009 ffffffff"), Lasting().rfind("c6120009 ffffffff")) << "one lasting filter";
  EXPECT_NE(Lasting(), "");

  HANDLE engine = Open(0x1);
  EXPECT_EQ(deleteById(engine, firstId), DWORD(FWP_E_FILTER_NOT_FOUND)) << "went with its session";
  EXPECT_EQ(add(engine, &second.filter, nullptr, nullptr), DWORD(FWP_E_ALREADY_EXISTS));
  EXPECT_EQ(deleteByKey(engine, &secondSession), 0u);
  EXPECT_EQ(Lasting(), "");
  EXPECT_EQ(close(engine), 0u);
  EXPECT_EQ(close(engine), DWORD(ERROR_INVALID_HANDLE));
}

}  // namespace
}  // namespace palisard

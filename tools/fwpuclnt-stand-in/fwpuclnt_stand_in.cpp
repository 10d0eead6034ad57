// A stand-in for the five calls palisard.exe makes into the Windows
// Filtering Platform, for tests under Wine (whose own engine answers "not
// supported"). It checks every argument against the documented contract and
// answers an error for anything else; it keeps the live filters as the
// engine does: a dynamic session's filters go when the session is closed or
// the process ends, other filters last (they are kept in a file, so they
// outlive the process as they would outlive it on Windows).
//
// Both files live in the current directory:
//   fwpuclnt-calls.log            one line per call: arguments, result, and
//                                 how many filters are live afterwards
//   fwpuclnt-lasting-filters.txt  the filters no session takes with it, one
//                                 "id key address mask" line each (hex)
#include <windows.h>
// After windows.h, whose declarations it needs.
#include <fwpmu.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const GUID kLayerInboundTransportV4 = {0x5926dfc8, 0xe3cf, 0x4426, {0xa2, 0x83, 0xdc, 0x39, 0x3f, 0x5d, 0x0f, 0x9d}};
const GUID kConditionIpRemoteAddress = {0xb235ae9a, 0x1d64, 0x49b8, {0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45}};
constexpr UINT32 kSessionFlagDynamic = 0x00000001;
constexpr UINT32 kSessionFlagReserved = 0x10000000;
constexpr UINT32 kFilterFlagPersistent = 0x00000001;
constexpr DWORD kUnknownAuthnService = 1747;  // RPC_S_UNKNOWN_AUTHN_SERVICE
constexpr DWORD kDynamicSessionInProgress = 0x8032000B;
constexpr char kCallLog[] = "fwpuclnt-calls.log";
constexpr char kLastingFilters[] = "fwpuclnt-lasting-filters.txt";

struct Filter {
  UINT64 id = 0;
  GUID key{};
  UINT32 address = 0;
  UINT32 mask = 0;
  UINT64 session = 0;  // the dynamic session that owns it; 0: lasting
};

struct Session {
  UINT64 handle;
  GUID key;
  bool dynamic;
};

CRITICAL_SECTION lock;
std::vector<Session> sessions;
std::vector<Filter> dynamicFilters;
UINT64 nextHandle = 0x5e5510;
UINT64 nextKey = 1;

bool IsZero(const GUID& guid) {
  static const GUID zero{};
  return std::memcmp(&guid, &zero, sizeof(guid)) == 0;
}

bool Same(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

std::string Hex(const GUID& guid) {
  std::string text;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&guid);
  char two[3];
  for (std::size_t i = 0; i < sizeof(guid); ++i) {
    std::snprintf(two, sizeof(two), "%02x", bytes[i]);
    text += two;
  }
  return text;
}

std::string Dotted(UINT32 address) {
  char text[16];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF,
                address & 0xFF);
  return text;
}

// A display name for the log: ASCII as it is, anything else as '?'.
std::string Narrow(const wchar_t* text) {
  if (text == nullptr) return "null";
  std::string narrow = "\"";
  for (; *text != 0; ++text) narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
  return narrow + "\"";
}

std::vector<Filter> LoadLasting() {
  std::vector<Filter> filters;
  FILE* file = std::fopen(kLastingFilters, "r");
  if (file == nullptr) return filters;
  char key[33];
  Filter filter;
  unsigned long long id;
  unsigned address, mask;
  while (std::fscanf(file, "%llx %32s %x %x", &id, key, &address, &mask) == 4) {
    filter.id = id;
    filter.address = address;
    filter.mask = mask;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&filter.key);
    for (int i = 0; i < 16; ++i) {
      unsigned byte = 0;
      std::sscanf(key + 2 * i, "%2x", &byte);
      bytes[i] = static_cast<unsigned char>(byte);
    }
    filters.push_back(filter);
  }
  std::fclose(file);
  return filters;
}

void SaveLasting(const std::vector<Filter>& filters) {
  FILE* file = std::fopen(kLastingFilters, "w");
  if (file == nullptr) return;
  for (const Filter& f : filters) {
    std::fprintf(file, "%llx %s %x %x\n", static_cast<unsigned long long>(f.id), Hex(f.key).c_str(), f.address, f.mask);
  }
  std::fclose(file);
}

std::size_t LiveCount() { return dynamicFilters.size() + LoadLasting().size(); }

// Appends one line to the call log, with the live count after the call.
void Record(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(line, sizeof(line) - 32, format, args);
  va_end(args);
  if (length < 0) return;
  if (length > static_cast<int>(sizeof(line)) - 32) length = sizeof(line) - 32;
  length += std::snprintf(line + length, 32, " live=%u\n", static_cast<unsigned>(LiveCount()));
  HANDLE file = CreateFileA(kCallLog, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
}

Session* FindSession(HANDLE engine) {
  for (Session& session : sessions) {
    if (session.handle == reinterpret_cast<UINT64>(engine)) return &session;
  }
  return nullptr;
}

UINT64 NextFilterId() {
  UINT64 next = 70001;
  for (const Filter& f : dynamicFilters) next = f.id >= next ? f.id + 1 : next;
  for (const Filter& f : LoadLasting()) next = f.id >= next ? f.id + 1 : next;
  return next;
}

bool IsContiguousMask(UINT32 mask) { return (~mask & (~mask + 1)) == 0; }

// The checks of FwpmFilterAdd0, in the engine's order; 0 when the filter is
// one the engine takes.
DWORD CheckFilter(const FWPM_FILTER0* filter, UINT32* address, UINT32* mask, const char** what) {
  if (filter == nullptr) return *what = "filter", FWP_E_NULL_POINTER;
  if (filter->displayData.name == nullptr) return *what = "displayData.name", FWP_E_NULL_DISPLAY_NAME;
  if ((filter->flags & ~kFilterFlagPersistent) != 0) return *what = "flags", FWP_E_INVALID_FLAGS;
  if (filter->providerKey != nullptr) return *what = "providerKey", FWP_E_PROVIDER_NOT_FOUND;
  if (!Same(filter->layerKey, kLayerInboundTransportV4)) return *what = "layerKey", FWP_E_LAYER_NOT_FOUND;
  if (!IsZero(filter->subLayerKey)) return *what = "subLayerKey", FWP_E_SUBLAYER_NOT_FOUND;
  switch (filter->weight.type) {
    case FWP_EMPTY:
    case FWP_UINT64:
      break;
    case FWP_UINT8:
      if (filter->weight.uint8 > 15) return *what = "weight", FWP_E_INVALID_WEIGHT;
      break;
    default:
      return *what = "weight", FWP_E_INVALID_WEIGHT;
  }
  // The one condition this stand-in knows: the remote IPv4 address.
  if (filter->numFilterConditions != 1) return *what = "numFilterConditions", FWP_E_INVALID_PARAMETER;
  if (filter->filterCondition == nullptr) return *what = "filterCondition", FWP_E_NULL_POINTER;
  const FWPM_FILTER_CONDITION0& condition = filter->filterCondition[0];
  if (!Same(condition.fieldKey, kConditionIpRemoteAddress)) return *what = "fieldKey", FWP_E_CONDITION_NOT_FOUND;
  if (condition.matchType != FWP_MATCH_EQUAL) return *what = "matchType", FWP_E_MATCH_TYPE_MISMATCH;
  if (condition.conditionValue.type == FWP_UINT32) {
    *address = condition.conditionValue.uint32;
    *mask = 0xFFFFFFFF;
  } else if (condition.conditionValue.type == FWP_V4_ADDR_MASK) {
    if (condition.conditionValue.v4AddrMask == nullptr) return *what = "v4AddrMask", FWP_E_NULL_POINTER;
    *address = condition.conditionValue.v4AddrMask->addr;
    *mask = condition.conditionValue.v4AddrMask->mask;
    if (!IsContiguousMask(*mask)) return *what = "mask", FWP_E_INVALID_NET_MASK;
  } else {
    return *what = "conditionValue.type", FWP_E_TYPE_MISMATCH;
  }
  if (filter->action.type != FWP_ACTION_BLOCK && filter->action.type != FWP_ACTION_PERMIT) {
    return *what = "action.type", FWP_E_INVALID_ACTION_TYPE;
  }
  return 0;
}

// Removes the filter matching `match` wherever it lives; false when none.
template <typename Match>
bool DeleteFilter(Match match) {
  for (auto it = dynamicFilters.begin(); it != dynamicFilters.end(); ++it) {
    if (match(*it)) {
      dynamicFilters.erase(it);
      return true;
    }
  }
  std::vector<Filter> lasting = LoadLasting();
  for (auto it = lasting.begin(); it != lasting.end(); ++it) {
    if (match(*it)) {
      lasting.erase(it);
      SaveLasting(lasting);
      return true;
    }
  }
  return false;
}

class Locked {
 public:
  Locked() { EnterCriticalSection(&lock); }
  ~Locked() { LeaveCriticalSection(&lock); }
};

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&lock);
  // On the way out (exit or kill) the dynamic sessions' filters simply
  // vanish with this process's memory, as the engine drops them.
  return TRUE;
}

DWORD WINAPI FwpmEngineOpen0(const wchar_t* serverName, UINT32 authnService, SEC_WINNT_AUTH_IDENTITY_W* authIdentity,
                             const FWPM_SESSION0* session, HANDLE* engineHandle) {
  Locked locked;
  DWORD result = 0;
  const char* what = "";
  UINT32 flags = session != nullptr ? session->flags : 0;
  if (serverName != nullptr) {
    result = FWP_E_INVALID_PARAMETER, what = "serverName";
  } else if (authnService != RPC_C_AUTHN_WINNT && authnService != static_cast<UINT32>(RPC_C_AUTHN_DEFAULT)) {
    result = kUnknownAuthnService, what = "authnService";
  } else if (engineHandle == nullptr) {
    result = FWP_E_NULL_POINTER, what = "engineHandle";
  } else if ((flags & ~(kSessionFlagDynamic | kSessionFlagReserved)) != 0) {
    result = FWP_E_INVALID_FLAGS, what = "session.flags";
  } else {
    GUID key = session != nullptr ? session->sessionKey : GUID{};
    for (const Session& open : sessions) {
      if (!IsZero(key) && Same(open.key, key)) result = FWP_E_ALREADY_EXISTS, what = "sessionKey";
    }
    if (result == 0) {
      sessions.push_back({nextHandle++, key, (flags & kSessionFlagDynamic) != 0});
      *engineHandle = reinterpret_cast<HANDLE>(sessions.back().handle);
    }
  }
  Record("FwpmEngineOpen0 serverName=%s authnService=%u authIdentity=%s sessionFlags=0x%x -> %lx%s%s engine=%llx",
         serverName != nullptr ? "set" : "null", authnService, authIdentity != nullptr ? "set" : "null", flags, result,
         result != 0 ? " bad=" : "", what,
         result == 0 ? static_cast<unsigned long long>(sessions.back().handle) : 0ULL);
  return result;
}

DWORD WINAPI FwpmEngineClose0(HANDLE engineHandle) {
  Locked locked;
  Session* session = FindSession(engineHandle);
  if (session == nullptr) {
    Record("FwpmEngineClose0 engine=%llx -> %lx bad=engineHandle", reinterpret_cast<unsigned long long>(engineHandle),
           static_cast<DWORD>(ERROR_INVALID_HANDLE));
    return ERROR_INVALID_HANDLE;
  }
  UINT64 handle = session->handle;
  std::size_t before = dynamicFilters.size();
  std::erase_if(dynamicFilters, [&](const Filter& f) { return f.session == handle; });
  std::erase_if(sessions, [&](const Session& s) { return s.handle == handle; });
  Record("FwpmEngineClose0 engine=%llx -> 0 dropped=%u", static_cast<unsigned long long>(handle),
         static_cast<unsigned>(before - dynamicFilters.size()));
  return 0;
}

DWORD WINAPI FwpmFilterAdd0(HANDLE engineHandle, const FWPM_FILTER0* filter, PSECURITY_DESCRIPTOR sd, UINT64* id) {
  Locked locked;
  UINT32 address = 0;
  UINT32 mask = 0;
  const char* what = "";
  Session* session = FindSession(engineHandle);
  DWORD result =
      session == nullptr ? (what = "engineHandle", ERROR_INVALID_HANDLE) : CheckFilter(filter, &address, &mask, &what);
  if (result == 0 && session->dynamic && (filter->flags & kFilterFlagPersistent) != 0) {
    result = kDynamicSessionInProgress, what = "flags";
  }
  GUID key = filter != nullptr ? filter->filterKey : GUID{};
  if (result == 0 && IsZero(key)) {
    // The engine makes a key when the caller gives none.
    std::memcpy(&key, &nextKey, sizeof(nextKey));
    reinterpret_cast<unsigned char*>(&key)[15] = 0xEE;
    ++nextKey;
  }
  if (result == 0) {
    for (const Filter& f : dynamicFilters) {
      if (Same(f.key, key)) result = FWP_E_ALREADY_EXISTS, what = "filterKey";
    }
    for (const Filter& f : LoadLasting()) {
      if (Same(f.key, key)) result = FWP_E_ALREADY_EXISTS, what = "filterKey";
    }
  }
  Filter added;
  if (result == 0) {
    added.id = NextFilterId();
    added.key = key;
    added.address = address;
    added.mask = mask;
    if (session->dynamic) {
      added.session = session->handle;
      dynamicFilters.push_back(added);
    } else {
      std::vector<Filter> lasting = LoadLasting();
      lasting.push_back(added);
      SaveLasting(lasting);
    }
    if (id != nullptr) *id = added.id;
  }
  Record("FwpmFilterAdd0 engine=%llx key=%s name=%s address=%s mask=%s action=%s sd=%s -> %lx%s%s id=%llu",
         reinterpret_cast<unsigned long long>(engineHandle), Hex(key).c_str(),
         Narrow(filter != nullptr ? filter->displayData.name : nullptr).c_str(), Dotted(address).c_str(),
         Dotted(mask).c_str(),
         filter == nullptr                         ? "none"
         : filter->action.type == FWP_ACTION_BLOCK ? "block"
                                                   : "other",
         sd != nullptr ? "set" : "null", result, result != 0 ? " bad=" : "", what,
         static_cast<unsigned long long>(added.id));
  return result;
}

DWORD WINAPI FwpmFilterDeleteById0(HANDLE engineHandle, UINT64 id) {
  Locked locked;
  DWORD result = 0;
  if (FindSession(engineHandle) == nullptr) {
    result = ERROR_INVALID_HANDLE;
  } else if (!DeleteFilter([id](const Filter& f) { return f.id == id; })) {
    result = FWP_E_FILTER_NOT_FOUND;
  }
  Record("FwpmFilterDeleteById0 engine=%llx id=%llu -> %lx", reinterpret_cast<unsigned long long>(engineHandle),
         static_cast<unsigned long long>(id), result);
  return result;
}

DWORD WINAPI FwpmFilterDeleteByKey0(HANDLE engineHandle, const GUID* key) {
  Locked locked;
  DWORD result = 0;
  if (FindSession(engineHandle) == nullptr) {
    result = ERROR_INVALID_HANDLE;
  } else if (key == nullptr) {
    result = FWP_E_NULL_POINTER;
  } else if (!DeleteFilter([key](const Filter& f) { return Same(f.key, *key); })) {
    result = FWP_E_FILTER_NOT_FOUND;
  }
  Record("FwpmFilterDeleteByKey0 engine=%llx key=%s -> %lx", reinterpret_cast<unsigned long long>(engineHandle),
         key != nullptr ? Hex(*key).c_str() : "null", result);
  return result;
}

}  // extern "C"

#include <windows.h>
// After windows.h, whose declarations it needs.
#include <tlhelp32.h>

#include "game/process_memory.h"

namespace palisard {
namespace {

// Owns one kernel handle.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// Toolhelp gives the image name in wide characters; the name is plain ASCII.
bool IsGameImageName(const wchar_t* name) {
  const char* expected = kGameProcessName;
  for (; *expected != '\0'; ++expected, ++name) {
    if (*name != static_cast<wchar_t>(*expected)) return false;
  }
  return *name == L'\0';
}

class WindowsProcessMemory final : public ProcessMemory {
 public:
  explicit WindowsProcessMemory(HANDLE process) : process_(process) {}

  bool Read(uint64_t address, void* buffer, std::size_t size) override {
    SIZE_T got = 0;
    return ReadProcessMemory(process_.get(), reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), buffer, size,
                             &got) &&
           got == size;
  }

 private:
  Handle process_;
};

class WindowsGameProcesses final : public GameProcesses {
 public:
  uint32_t FindGameProcess() override {
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
      if (IsGameImageName(entry.szExeFile)) return entry.th32ProcessID;
    }
    return 0;
  }

  std::unique_ptr<ProcessMemory> OpenGameProcess(uint32_t processId) override {
    HANDLE process = OpenProcess(PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) return nullptr;
    return std::make_unique<WindowsProcessMemory>(process);
  }
};

}  // namespace

std::unique_ptr<GameProcesses> CreateSystemGameProcesses() { return std::make_unique<WindowsGameProcesses>(); }

}  // namespace palisard

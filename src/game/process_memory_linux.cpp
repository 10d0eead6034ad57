#include <dirent.h>
#include <errno.h>
#include <sys/uio.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>
#include <vector>

#include "game/process_memory.h"

namespace palisard {
namespace {

class LinuxProcessMemory final : public ProcessMemory {
 public:
  explicit LinuxProcessMemory(pid_t pid) : pid_(pid) {}

  bool Read(uint64_t address, void* buffer, std::size_t size) override {
    iovec local{buffer, size};
    iovec remote{reinterpret_cast<void*>(static_cast<uintptr_t>(address)), size};
    ssize_t got = process_vm_readv(pid_, &local, 1, &remote, 1, 0);
    return got >= 0 && static_cast<std::size_t>(got) == size;
  }

 private:
  pid_t pid_;
};

std::vector<uint32_t> ProcessIdsInOrder() {
  std::vector<uint32_t> ids;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return ids;
  while (dirent* entry = readdir(proc)) {
    std::string name = entry->d_name;
    if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return std::isdigit(c); })) {
      ids.push_back(static_cast<uint32_t>(std::stoul(name)));
    }
  }
  closedir(proc);
  std::sort(ids.begin(), ids.end());
  return ids;
}

class LinuxGameProcesses final : public GameProcesses {
 public:
  uint32_t FindGameProcess() override {
    for (uint32_t id : ProcessIdsInOrder()) {
      std::ifstream comm("/proc/" + std::to_string(id) + "/comm");
      std::string name;
      if (std::getline(comm, name) && name == kGameProcessName) return id;
    }
    return 0;
  }

  std::unique_ptr<ProcessMemory> OpenGameProcess(uint32_t processId) override {
    // Nothing stays open: each read names the process. Opening checks that
    // reading is allowed at all (CAP_SYS_PTRACE or the same user) and that
    // the process still exists; an unmapped address is no refusal.
    pid_t pid = static_cast<pid_t>(processId);
    char probe;
    iovec local{&probe, 1};
    iovec remote{reinterpret_cast<void*>(uintptr_t{kScanStart}), 1};
    if (process_vm_readv(pid, &local, 1, &remote, 1, 0) < 0 && (errno == EPERM || errno == ESRCH)) return nullptr;
    return std::make_unique<LinuxProcessMemory>(pid);
  }
};

}  // namespace

std::unique_ptr<GameProcesses> CreateSystemGameProcesses() { return std::make_unique<LinuxGameProcesses>(); }

}  // namespace palisard

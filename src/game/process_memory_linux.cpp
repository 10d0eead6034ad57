#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "common/clock.h"
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

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The process ids in /proc, in ascending order.
std::vector<uint32_t> ProcessIdsInOrder(DIR* proc) {
  std::vector<uint32_t> ids;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    unsigned long id = std::strtoul(entry->d_name, &end, 10);
    if (std::isdigit(static_cast<unsigned char>(entry->d_name[0])) && *end == '\0') {
      ids.push_back(static_cast<uint32_t>(id));
    }
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

// Whether /proc/ID/comm, read relative to the open /proc, names the game.
// Plain system calls: the search runs every second while no game is found.
bool IsGameProcess(int procFd, uint32_t id) {
  char path[32];
  std::snprintf(path, sizeof(path), "%u/comm", id);
  Descriptor comm(openat(procFd, path, O_RDONLY | O_CLOEXEC));
  if (comm.get() < 0) return false;
  char name[32];
  ssize_t got = read(comm.get(), name, sizeof(name));
  const std::size_t expected = std::strlen(kGameProcessName);
  // The kernel ends the name with a newline.
  return got == static_cast<ssize_t>(expected + 1) && std::memcmp(name, kGameProcessName, expected) == 0;
}

class LinuxGameProcesses final : public GameProcesses {
 public:
  // Reading every process's name each second costs about a millisecond on a
  // busy machine. A process gets its name when it starts (Wine names the
  // game within its first moments), so a name is read again only while its
  // process is young or was the game last time, and every name once in a
  // while.
  uint32_t FindGameProcess() override {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    const int64_t now = SystemClock().NowMs();
    const bool everyName = now - lastFullSearchMs_ >= kFullSearchIntervalMs;
    if (everyName) lastFullSearchMs_ = now;
    std::map<uint32_t, int64_t> seen;
    uint32_t found = 0;
    for (uint32_t id : ProcessIdsInOrder(proc)) {
      auto known = firstSeenMs_.find(id);
      const int64_t firstSeen = known == firstSeenMs_.end() ? now : known->second;
      seen.emplace(id, firstSeen);
      const bool look = everyName || now - firstSeen <= kYoungMs || id == lastFound_;
      if (found == 0 && look && IsGameProcess(dirfd(proc), id)) found = id;
    }
    closedir(proc);
    firstSeenMs_ = std::move(seen);
    lastFound_ = found;
    return found;
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

 private:
  static constexpr int64_t kYoungMs = 5'000;
  static constexpr int64_t kFullSearchIntervalMs = 10'000;

  std::map<uint32_t, int64_t> firstSeenMs_;  // by process id
  int64_t lastFullSearchMs_ = INT64_MIN / 2;
  uint32_t lastFound_ = 0;
};

}  // namespace

std::unique_ptr<GameProcesses> CreateSystemGameProcesses() { return std::make_unique<LinuxGameProcesses>(); }

}  // namespace palisard

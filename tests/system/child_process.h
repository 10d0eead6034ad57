#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace palisard {

// A program started by a system test, with its standard input and output
// (standard error merged) on pipes. Killed and reaped when the object goes
// away, so no test leaves a process behind.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& workingDir);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  void Write(const std::string& text);
  void CloseInput();
  void Signal(int signal);

  // True once the output holds `text` (searching from `from`), false when
  // `timeout` passed first or the output ended without it.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(10),
                     std::size_t from = 0);
  // The raw wait status, or nothing when the process is still running after
  // `timeout`.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  std::string Output() const;
  // The output once the program and its children closed it, or what came
  // within `timeout`.
  std::string WholeOutput(std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  void ReadOutput();

  pid_t pid_ = -1;
  int inputFd_ = -1;
  int outputFd_ = -1;
  std::optional<int> status_;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  bool outputEnded_ = false;
};

}  // namespace palisard

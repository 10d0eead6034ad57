#include "system/palisard_process.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace palisard {

PalisardProcess::PalisardProcess(const NetworkNamespace& machine, const std::string& settings, const PidNamespace* pids)
    : PalisardProcess(machine, settings, pids, {PALISARD_EXE}, "palisard", {}) {}

PalisardProcess::PalisardProcess(const NetworkNamespace& machine, const std::string& settings, const PidNamespace* pids,
                                 const std::vector<std::string>& command, const std::string& name,
                                 const std::vector<std::string>& files)
    : pids_(pids), name_(name) {
  dir_.Write("Palisard.ini", settings);
  for (const std::string& file : files) {
    std::filesystem::copy_file(file, dir_.path() / std::filesystem::path(file).filename());
  }
  if (pids_ == nullptr) {
    ownPids_ = std::make_unique<PidNamespace>(machine);
    pids_ = ownPids_.get();
  }
  process_ = pids_->Start(command, dir_.path());
}

PalisardProcess::~PalisardProcess() {
  // The program goes first, then (if it is its own) its PID namespace.
  process_.reset();
  ownPids_.reset();
}

pid_t PalisardProcess::pid() const {
  // Just started, the program may not carry its name yet (nsenter, setpriv
  // and Wine's loader come first).
  for (int i = 0; i < 100; ++i) {
    pid_t pid = pids_->Find(name_);
    if (pid > 0 || process_->WaitForExit(std::chrono::milliseconds(0))) return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

void PalisardProcess::Signal(int signal) {
  pid_t program = pid();
  if (program > 0) kill(program, signal);
}

std::string TestSettings(int adminPort, const std::string& extraLines) {
  return "[Palisard]\nAdminPort=" + std::to_string(adminPort) + "\nHttpPort=3060\nCheckForUpdates=0\nBanStreaming=0\n" +
         extraLines;
}

}  // namespace palisard

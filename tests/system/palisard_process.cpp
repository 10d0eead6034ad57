#include "system/palisard_process.h"

namespace palisard {

PalisardProcess::PalisardProcess(const NetworkNamespace& machine, const std::string& settings) {
  dir_.Write("Palisard.ini", settings);
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/ip", "netns", "exec", machine.name(), PALISARD_EXE}, dir_.path());
}

std::string TestSettings(int adminPort, const std::string& extraLines) {
  return "[Palisard]\nAdminPort=" + std::to_string(adminPort) +
         "\nHttpPort=3060\nCheckForUpdates=0\nBanStreaming=0\n" + extraLines;
}

}  // namespace palisard

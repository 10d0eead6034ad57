#include "system/palisard_process.h"

namespace palisard {

PalisardProcess::PalisardProcess(const NetworkNamespace& machine, const std::string& settings, int openFiles) {
  dir_.Write("Palisard.ini", settings);
  std::vector<std::string> argv{"/usr/bin/ip", "netns", "exec", machine.name()};
  if (openFiles > 0) {
    const std::string limit = std::to_string(openFiles);
    argv.insert(argv.end(), {"/usr/bin/prlimit", "--nofile=" + limit + ":" + limit});
  }
  argv.push_back(PALISARD_EXE);
  process_ = std::make_unique<ChildProcess>(argv, dir_.path());
}

std::string TestSettings(int adminPort, const std::string& extraLines) {
  return "[Palisard]\nAdminPort=" + std::to_string(adminPort) +
         "\nHttpPort=3060\nCheckForUpdates=0\nBanStreaming=0\n" + extraLines;
}

}  // namespace palisard

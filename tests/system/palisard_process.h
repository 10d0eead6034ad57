#pragma once

#include <memory>
#include <string>

#include "helpers/network_namespace.h"
#include "helpers/temp_dir.h"
#include "system/child_process.h"

namespace palisard {

// The real program, started inside `machine` (a network namespace: its
// firewall table and ports stay there) in a temporary directory of its own
// holding `settings` as "Palisard.ini". With `openFiles`, it starts with
// that many open files as its soft and hard limits.
class PalisardProcess {
 public:
  PalisardProcess(const NetworkNamespace& machine, const std::string& settings, int openFiles = 0);

  ChildProcess& process() { return *process_; }
  const TempDir& directory() const { return dir_; }

 private:
  TempDir dir_;
  std::unique_ptr<ChildProcess> process_;
};

// Settings for a test copy: the given admin port, web port 3060, no version
// check, no ban streaming.
std::string TestSettings(int adminPort = 3061, const std::string& extraLines = "");

}  // namespace palisard

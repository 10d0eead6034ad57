#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "helpers/network_namespace.h"
#include "helpers/temp_dir.h"
#include "system/child_process.h"

namespace palisard {

// nginx inside a test's network namespace, in the foreground as one process
// (no master, no daemon), its paths in a directory of its own, so that
// nothing of the machine's own nginx is read or written. `servers` is what
// its http block holds (upstreams and server blocks). Killed with the object.
class NginxProcess {
 public:
  NginxProcess(const NetworkNamespace& machine, const std::string& servers);

  ChildProcess& process() { return *process_; }
  // What it says of its upstreams (an instance that fails, a retry).
  std::filesystem::path errorLog() const { return dir_.path() / "error.log"; }

 private:
  TempDir dir_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace palisard

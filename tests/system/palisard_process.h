#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "helpers/network_namespace.h"
#include "helpers/temp_dir.h"
#include "system/child_process.h"
#include "system/pid_namespace.h"

namespace palisard {

// The real program, started inside `machine` (a network namespace: its
// firewall table and ports stay there) and inside a PID namespace, `pids`
// when given (the one its game stand-in runs in) or one of its own, in a
// temporary directory of its own holding `settings` as "Palisard.ini".
class PalisardProcess {
 public:
  PalisardProcess(const NetworkNamespace& machine, const std::string& settings, const PidNamespace* pids = nullptr);
  // The same for another build of the program (`command`, such as the
  // Windows program under Wine), whose process is named `name`; `files` are
  // copied into its directory first.
  PalisardProcess(const NetworkNamespace& machine, const std::string& settings, const PidNamespace* pids,
                  const std::vector<std::string>& command, const std::string& name,
                  const std::vector<std::string>& files);
  ~PalisardProcess();

  ChildProcess& process() { return *process_; }
  const TempDir& directory() const { return dir_; }
  // The program's PID as the test sees it (-1 once it is gone), and a
  // signal to it.
  pid_t pid() const;
  void Signal(int signal);

 private:
  TempDir dir_;
  std::unique_ptr<PidNamespace> ownPids_;
  const PidNamespace* pids_;
  std::string name_;
  std::unique_ptr<ChildProcess> process_;
};

// Settings for a test copy: the given admin port, web port 3060, no version
// check, no ban streaming.
std::string TestSettings(int adminPort = 3061, const std::string& extraLines = "");

}  // namespace palisard

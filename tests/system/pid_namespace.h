#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "helpers/network_namespace.h"
#include "system/child_process.h"

namespace palisard {

// A PID namespace with its own /proc, inside a test's network namespace.
// The program and its game stand-in started here see each other only, never
// a stand-in that another test, a demo or a developer left running. Wine's
// server directory is private to it too, so Windows programs started here
// get a wineserver of their own (one that knows their PIDs). Everything in
// it ends when the object goes away.
class PidNamespace {
 public:
  explicit PidNamespace(const NetworkNamespace& network);
  ~PidNamespace();
  PidNamespace(const PidNamespace&) = delete;
  PidNamespace& operator=(const PidNamespace&) = delete;

  // Starts `argv` inside, in `workingDir`. The process dies with the
  // returned ChildProcess (which stands for it: its output, input and exit
  // status are the program's).
  std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv,
                                      const std::filesystem::path& workingDir) const;
  // The PID, as the test sees it, of a process in here whose name is
  // `name`; -1 when there is none.
  pid_t Find(const std::string& name) const;

 private:
  std::unique_ptr<ChildProcess> holder_;
  pid_t init_ = -1;
};

}  // namespace palisard

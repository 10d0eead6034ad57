#pragma once

#include <memory>
#include <string>

#include "helpers/temp_dir.h"
#include "system/child_process.h"

namespace palisard {

// The first admin port in 3061..3072 that nothing on this machine listens on.
int FreeAdminPort();

// The real program, started in a temporary directory of its own holding
// `settings` as "Palisard.ini".
class PalisardProcess {
 public:
  explicit PalisardProcess(const std::string& settings);

  ChildProcess& process() { return *process_; }
  const TempDir& directory() const { return dir_; }

 private:
  TempDir dir_;
  std::unique_ptr<ChildProcess> process_;
};

// Settings for a test copy: the given admin port, any free web port, no
// version check, no ban streaming.
std::string TestSettings(int adminPort, const std::string& extraLines = "");

}  // namespace palisard

#pragma once

#include <memory>
#include <string>
#include <vector>

#include "helpers/network_namespace.h"
#include "helpers/temp_dir.h"
#include "system/child_process.h"

namespace palisard {

// palisard-service serving inside a test's network namespace, from a
// directory of its own, on `database` (an SQLite file there when empty).
// Killed with the object.
class ServiceProcess {
 public:
  ServiceProcess(const NetworkNamespace& machine, const std::string& listen, const std::string& database = "",
                 const std::vector<std::string>& options = {});

  // True once it serves, false when it ended or did not within 10 s.
  bool ready();
  const std::string& database() const { return database_; }
  ChildProcess& process() { return *process_; }

 private:
  TempDir dir_;
  std::string database_;
  std::unique_ptr<ChildProcess> process_;
};

// A database of its own on the throw-away cluster that tests/with-postgres.sh
// names ("postgresql:///postgres?host=DIR&user=postgres"); empty without one.
std::string NewPostgresDatabase();

// A command of palisard-service's command line on `database`, as a
// moderator types it: its output (standard error too), and its exit code in
// `code` when given (-1 when it did not end within 10 s).
std::string ServiceCommand(const std::string& database, const std::vector<std::string>& args, int* code = nullptr);
// The same, started and left running.
std::unique_ptr<ChildProcess> StartServiceCommand(const std::string& database, std::vector<std::string> args);

}  // namespace palisard

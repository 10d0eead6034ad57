#include "system/service_process.h"

#include <sys/wait.h>

namespace palisard {

ServiceProcess::ServiceProcess(const NetworkNamespace& machine, const std::string& listen, const std::string& database,
                               const std::vector<std::string>& options)
    : database_(database.empty() ? (dir_.path() / "palisard-service.db").string() : database) {
  std::vector<std::string> argv = {"/usr/bin/ip", "netns",    "exec", machine.name(), PALISARD_SERVICE_EXE,
                                   "serve",       "--listen", listen, "--database",   database_};
  argv.insert(argv.end(), options.begin(), options.end());
  process_ = std::make_unique<ChildProcess>(argv, dir_.path());
}

bool ServiceProcess::ready() { return process_->WaitForOutput("palisard-service: serving the ban contract on "); }

std::unique_ptr<ChildProcess> StartServiceCommand(const std::string& database, std::vector<std::string> args) {
  args.insert(args.begin(), PALISARD_SERVICE_EXE);
  args.insert(args.end(), {"--database", database});
  return std::make_unique<ChildProcess>(args, "/");
}

std::string ServiceCommand(const std::string& database, const std::vector<std::string>& args, int* code) {
  std::unique_ptr<ChildProcess> command = StartServiceCommand(database, args);
  const std::optional<int> status = command->WaitForExit();
  if (code != nullptr) *code = status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
  return command->WholeOutput(std::chrono::seconds(1));
}

}  // namespace palisard

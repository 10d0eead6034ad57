#include "system/service_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace palisard {

ServiceProcess::ServiceProcess(const NetworkNamespace& machine, const std::string& listen, const std::string& database,
                               const std::vector<std::string>& options)
    : database_(database.empty() ? (dir_.path() / "palisard-service.db").string() : database) {
  std::vector<std::string> argv = {"/usr/bin/ip", "netns",    "exec", machine.name(), PALISARD_SERVICE_EXE,
                                   "serve",       "--listen", listen, "--database",   database_};
  argv.insert(argv.end(), options.begin(), options.end());
  // Several instances may share a machine: their moderation pages take any
  // free port unless the test names one.
  if (std::find(options.begin(), options.end(), "--moderation-listen") == options.end()) {
    argv.insert(argv.end(), {"--moderation-listen", "127.0.0.1:0"});
  }
  process_ = std::make_unique<ChildProcess>(argv, dir_.path());
}

std::string NewPostgresDatabase() {
  const char* cluster = std::getenv("PALISARD_TEST_POSTGRES_URL");
  static int made = 0;
  const std::string name = "community_" + std::to_string(getpid()) + "_" + std::to_string(made++);
  std::string url = cluster != nullptr ? cluster : "";
  const std::size_t database = url.find("/postgres?");
  if (database == std::string::npos ||
      std::system(("psql -q '" + url + "' -c 'CREATE DATABASE " + name + "'").c_str()) != 0) {
    return "";
  }
  return url.replace(database, 9, "/" + name);
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

#include "system/pid_namespace.h"

#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace palisard {
namespace {

std::string ProcessName(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

}  // namespace

PidNamespace::PidNamespace(const NetworkNamespace& network) {
  // The namespace's first process mounts a private Wine server directory
  // and then reaps the orphans that come to it (a stand-in whose nsenter
  // was killed first, Wine's server): left as zombies under their names,
  // they would be found instead of a new game. unshare kills it, and so
  // everything in the namespace, when the holder dies.
  const std::string uid = std::to_string(getuid());
  const std::string setup = "mkdir -p -m 0700 /tmp/.wine-" + uid + " && mount -t tmpfs -o mode=0700 tmpfs /tmp/.wine-" +
                            uid + " && echo ready && exec perl -e 'for (;;) { select(undef, undef, undef, 0.05) " +
                            "if waitpid(-1, 0) < 0 }'";
  holder_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/ip", "netns", "exec", network.name(), "unshare", "--pid", "--fork",
                               "--kill-child", "--mount-proc", "/bin/sh", "-c", setup},
      "/");
  if (!holder_->WaitForOutput("ready\n")) throw std::runtime_error("no PID namespace: " + holder_->Output());
  // unshare's one child is the namespace's first process.
  std::ifstream children("/proc/" + std::to_string(holder_->pid()) + "/task/" + std::to_string(holder_->pid()) +
                         "/children");
  children >> init_;
  if (init_ < 0) throw std::runtime_error("no PID namespace: its first process is missing");
}

PidNamespace::~PidNamespace() { holder_.reset(); }

std::unique_ptr<ChildProcess> PidNamespace::Start(const std::vector<std::string>& argv,
                                                  const std::filesystem::path& workingDir) const {
  // nsenter forks the program into the namespace and passes on its exit
  // status (a death by signal too); the program gets SIGKILL when nsenter
  // dies, so killing the ChildProcess ends the program.
  std::vector<std::string> command = {"/usr/bin/nsenter",
                                      "--target",
                                      std::to_string(init_),
                                      "--net",
                                      "--pid",
                                      "--mount",
                                      "--wd=" + workingDir.string(),
                                      "--",
                                      "/usr/bin/setpriv",
                                      "--pdeathsig",
                                      "KILL",
                                      "--"};
  command.insert(command.end(), argv.begin(), argv.end());
  return std::make_unique<ChildProcess>(command, workingDir);
}

pid_t PidNamespace::Find(const std::string& name) const {
  // What nsenter starts is its child, not the first process's: look for
  // the name among every process in this PID namespace.
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/" + std::to_string(init_) + "/ns/pid", error);
  if (error) return -1;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string pidText = entry.path().filename().string();
    if (pidText.find_first_not_of("0123456789") != std::string::npos) continue;
    pid_t pid = std::stoi(pidText);
    if (ProcessName(pid) != name) continue;
    std::error_code gone;
    if (std::filesystem::read_symlink(entry.path() / "ns" / "pid", gone) == self && !gone) return pid;
  }
  return -1;
}

}  // namespace palisard

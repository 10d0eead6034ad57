#include "system/machine.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace palisard {

Machine::Machine(const std::string& name, const std::string& address) : name_(name), address_(address) {}

Machine::~Machine() {
  if (launcher_) {
    pid_t pid = PalisardPid();
    if (pid > 0) kill(pid, SIGKILL);
  }
  launcher_.reset();  // kills the PID namespace's first process, and so all in it
  if (gameInput_ >= 0) close(gameInput_);
}

void Machine::Start(const std::string& settings, Build build) {
  build_ = build;
  dir_.Write("Palisard.ini", settings);
  const std::string fifo = (dir_.path() / "game.fifo").string();
  mkfifo(fifo.c_str(), 0600);
  gameInput_ = open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // read-write: never blocks, never sees EOF
  // The shell is the PID namespace's first process; the stand-in and
  // Palisard run under it, Palisard on the launcher's standard input and
  // output.
  std::string script =
      std::string("\"") + GAME_SIM_EXE + "\" < game.fifo > game.log 2>&1 & sleep 0.3; \"" + PALISARD_EXE + "\"; wait";
  if (build == Build::kWindows) {
    const std::string windows = PALISARD_WINDOWS_BUILD_DIR;
    for (const char* file : {"/src/palisard.exe", "/tools/fwpuclnt-stand-in/fwpuclnt.dll"}) {
      std::filesystem::copy_file(windows + file, dir_.path() / std::filesystem::path(file).filename());
    }
    // A Wine server directory of the namespace's own: its wineserver must
    // know the PIDs of this namespace.
    const std::string wineDir = "/tmp/.wine-" + std::to_string(getuid());
    script = "mkdir -p -m 0700 " + wineDir + " && mount -t tmpfs -o mode=0700 tmpfs " + wineDir +
             " || exit 1; export WINEDEBUG=-all WINEDLLOVERRIDES=\"mscoree,mshtml=;fwpuclnt=n\"; wine \"" + windows +
             "/tools/game-sim/iw5mp.exe\" < game.fifo > game.log 2>&1 & sleep 0.3; wine palisard.exe; wait";
  }
  launcher_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/ip", "netns", "exec", network_.name(), "unshare", "--pid", "--fork",
                               "--kill-child", "--mount-proc", "/bin/sh", "-c", script},
      dir_.path());
}

void Machine::Game(const std::string& commands) {
  std::string text = commands;
  if (text.empty() || text.back() != '\n') text += '\n';
  ssize_t ignored = write(gameInput_, text.data(), text.size());
  (void)ignored;
}

pid_t Machine::PalisardPid() const {
  // Walk the launcher's descendants for the process named "palisard".
  std::vector<pid_t> pending = {launcher_->pid()};
  while (!pending.empty()) {
    pid_t pid = pending.back();
    pending.pop_back();
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == (build_ == Build::kWindows ? "palisard.exe" : "palisard")) return pid;
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    pid_t child;
    while (children >> child) pending.push_back(child);
  }
  return -1;
}

std::string Machine::Browse(const std::string& path) {
  return network_.Capture("curl -s -m 5 http://127.0.0.1:3060" + path);
}

bool Machine::CanConnect(const std::string& address, int port) {
  // A TCP connection, whatever the port speaks.
  return network_.Run("timeout 1 bash -c \": </dev/tcp/" + address + "/" + std::to_string(port) + "\"") == 0;
}

std::string Machine::Ruleset() { return network_.Capture("nft list ruleset"); }

std::string Machine::Line(const std::string& text) const { return text + (build_ == Build::kWindows ? "\r\n" : "\n"); }

std::string Machine::FilterCalls() const {
  std::ifstream file(dir_.path() / "fwpuclnt-calls.log");
  std::stringstream calls;
  calls << file.rdbuf();
  return calls.str();
}

TestNetwork::TestNetwork() { switch_.Run("ip link add br0 type bridge && ip link set br0 up"); }

void TestNetwork::Attach(Machine& machine) {
  std::string port = "sw" + std::to_string(getpid() % 10000) + "p" + std::to_string(ports_++);
  std::system(("ip link add " + port + " netns " + switch_.name() + " type veth peer name eth0 netns " +
               machine.network().name())
                  .c_str());
  switch_.Run("ip link set " + port + " master br0 && ip link set " + port + " up");
  machine.network().Run("ip addr add " + machine.address() + "/24 dev eth0 && ip link set eth0 up");
}

}  // namespace palisard

#pragma once

#include <memory>
#include <string>
#include <vector>

#include "helpers/temp_dir.h"
#include "system/child_process.h"
#include "system/pid_namespace.h"

namespace palisard {

// The game stand-in as a child process, driven by its text commands; in
// `pids`, the PID namespace the program under test runs in.
class GameSim {
 public:
  explicit GameSim(const PidNamespace& pids, const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv = {GAME_SIM_EXE};
    argv.insert(argv.end(), options.begin(), options.end());
    process_ = pids.Start(argv, dir_.path());
    ready_ = process_->WaitForOutput("ready\n");
  }
  bool ready() const { return ready_; }
  // Sends one command and waits for its answer.
  bool Do(const std::string& command) {
    std::size_t from = process_->Output().size();
    process_->Write(command + "\n");
    return process_->WaitForOutput("ok\n", std::chrono::seconds(5), from);
  }
  ChildProcess& process() { return *process_; }

 private:
  TempDir dir_;
  std::unique_ptr<ChildProcess> process_;
  bool ready_ = false;
};

}  // namespace palisard

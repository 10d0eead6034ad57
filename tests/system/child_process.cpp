#include "system/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace palisard {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& workingDir) {
  int input[2];
  int output[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  int error = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  close(output[1]);
  inputFd_ = input[1];
  outputFd_ = output[0];
  if (error != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + argv[0]);
  }
  reader_ = std::thread(&ChildProcess::ReadOutput, this);
}

ChildProcess::~ChildProcess() {
  if (!status_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    WaitForExit(std::chrono::seconds(10));
  }
  CloseInput();
  if (reader_.joinable()) reader_.join();
  if (outputFd_ >= 0) close(outputFd_);
}

void ChildProcess::ReadOutput() {
  char buffer[4096];
  for (;;) {
    ssize_t got = read(outputFd_, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (got <= 0) {
      outputEnded_ = true;
      changed_.notify_all();
      return;
    }
    output_.append(buffer, static_cast<std::size_t>(got));
    changed_.notify_all();
  }
}

void ChildProcess::Write(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(inputFd_, text.data() + done, text.size() - done);
    if (wrote <= 0) return;
    done += static_cast<std::size_t>(wrote);
  }
}

void ChildProcess::CloseInput() {
  if (inputFd_ >= 0) close(inputFd_);
  inputFd_ = -1;
}

void ChildProcess::Signal(int signal) {
  if (!status_) kill(pid_, signal);
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout, std::size_t from) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    return output_.find(text, from) != std::string::npos || outputEnded_;
  }) && output_.find(text, from) != std::string::npos;
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!status_) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = status;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

std::string ChildProcess::WholeOutput(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return outputEnded_; });
  return output_;
}

std::string ChildProcess::Output() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

}  // namespace palisard

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/update_prompt.h"
#include "helpers/temp_dir.h"

namespace palisard {
namespace {

// The program blocks the console signals in every thread; the browser it
// opens must not inherit that. A stand-in xdg-open on the PATH writes the
// signal mask it started with into the file it is asked to open.
TEST(UpdatePromptTest, BrowserStartsWithNoSignalBlocked) {
  TempDir dir;
  const std::string report = (dir.path() / "mask").string();
  const std::string opener =
      // exec: the shell blocks every signal around a fork of its own.
      dir.Write("xdg-open", "#!/bin/sh\nexec grep SigBlk /proc/self/status > \"$1\"\n").string();
  chmod(opener.c_str(), 0755);
  const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  setenv("PATH", (dir.path().string() + ":" + path).c_str(), 1);

  sigset_t consoleSignals;
  sigset_t before;
  sigemptyset(&consoleSignals);
  sigaddset(&consoleSignals, SIGINT);
  sigaddset(&consoleSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &consoleSignals, &before);
  CreateSystemUpdatePrompt()->OpenAddress(report);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  setenv("PATH", path.c_str(), 1);

  std::string mask;
  for (int i = 0; i < 500 && (mask.empty() || mask.back() != '\n'); ++i) {
    std::ifstream file(report);
    std::stringstream text;
    text << file.rdbuf();
    mask = text.str();
    if (mask.empty() || mask.back() != '\n') std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(mask, "SigBlk:\t0000000000000000\n");
}

}  // namespace
}  // namespace palisard

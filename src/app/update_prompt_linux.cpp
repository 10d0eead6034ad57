#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <thread>

#include "app/update_prompt.h"
#include "common/console_output.h"

extern char** environ;

namespace palisard {
namespace {

class ConsoleUpdatePrompt final : public UpdatePrompt {
 public:
  // A line answered "y" or "yes" is yes; anything else, or the end of the
  // input, is no.
  bool AskToDownload(const std::string&) override {
    Print("%s [y/N] ", kDownloadQuestion);
    char line[256];
    if (std::fgets(line, sizeof(line), stdin) == nullptr) {
      Print("\n");
      return false;
    }
    std::string answer;
    for (char* c = line; *c != '\0' && *c != '\n' && *c != '\r'; ++c) {
      answer.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*c))));
    }
    return answer == "y" || answer == "yes";
  }

  void OpenAddress(const std::string& address) override {
    pid_t child = 0;
    const char* argv[] = {"xdg-open", address.c_str(), nullptr};
    // Every thread blocks the console signals, which the exit thread reads
    // from a signalfd; the browser started here must not inherit that mask,
    // or it could not be interrupted or terminated.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    const int error = posix_spawnp(&child, "xdg-open", nullptr, &attributes, const_cast<char**>(argv), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
      Print("Open %s in a browser to download it.\n", address.c_str());
      return;
    }
    std::thread([child] { waitpid(child, nullptr, 0); }).detach();  // no zombie left behind
  }
};

}  // namespace

std::unique_ptr<UpdatePrompt> CreateSystemUpdatePrompt() { return std::make_unique<ConsoleUpdatePrompt>(); }

}  // namespace palisard

#pragma once

#include <memory>
#include <string>

namespace palisard {

// Asks the user whether to download a new version, and opens its address.
// A message box and the shell on Windows; the console and xdg-open on Linux.
class UpdatePrompt {
 public:
  virtual ~UpdatePrompt() = default;
  // True when the user answers yes to "Would you like to download the new
  // version of Palisard?" under `caption`.
  virtual bool AskToDownload(const std::string& caption) = 0;
  // Opens an http:// or https:// address with the system's handler.
  virtual void OpenAddress(const std::string& address) = 0;
};

std::unique_ptr<UpdatePrompt> CreateSystemUpdatePrompt();

inline constexpr const char* kDownloadQuestion = "Would you like to download the new version of Palisard?";

}  // namespace palisard

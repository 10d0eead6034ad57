#include <windows.h>
// After windows.h, whose declarations it needs.
#include <shellapi.h>

#include "app/update_prompt.h"

namespace palisard {
namespace {

class DialogUpdatePrompt final : public UpdatePrompt {
 public:
  bool AskToDownload(const std::string& caption) override {
    return MessageBoxA(nullptr, kDownloadQuestion, caption.c_str(), MB_YESNO) == IDYES;
  }

  void OpenAddress(const std::string& address) override {
    ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
};

}  // namespace

std::unique_ptr<UpdatePrompt> CreateSystemUpdatePrompt() { return std::make_unique<DialogUpdatePrompt>(); }

}  // namespace palisard

#pragma once

#include <mutex>
#include <string>

#include "common/console_output.h"

namespace palisard {

// Keeps what logic wrote to the console. Thread-safe.
class RecordingConsole final : public ConsoleSink {
 public:
  void Write(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ += text;
  }
  // What was written since the last Take.
  std::string Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string taken;
    taken.swap(text_);
    return taken;
  }

 private:
  std::mutex mutex_;
  std::string text_;
};

}  // namespace palisard

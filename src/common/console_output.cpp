#include "common/console_output.h"

#include <cstdarg>
#include <cstdio>
#include <utility>
#include <vector>

#include "common/direction_controls.h"
#include "common/mutex.h"

namespace palisard {
namespace {

std::string Format(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return std::string();
  std::vector<char> text(static_cast<std::size_t>(length) + 1);
  std::vsnprintf(text.data(), text.size(), format, args);
  return std::string(text.data(), static_cast<std::size_t>(length));
}

class StandardOutputSink final : public ConsoleSink {
 public:
  void Write(const std::string& text) override { palisard::Print("%s", text.c_str()); }
};

}  // namespace

void Print(const char* format, ...) {
  // One lock so that lines printed by different threads never interleave.
  // Never destroyed: other threads may still print while the process exits.
  static Mutex* mutex = new Mutex;
  MutexLock lock(*mutex);
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}

void ConsoleSink::Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = Format(format, args);
  va_end(args);
  Write(text);
}

std::string PrintableText(const std::string& text) {
  std::string printable;
  printable.reserve(text.size());
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) printable.push_back(c);
  }
  // After the control bytes, whose removal can bring a control's bytes together.
  return WithoutDirectionControls(std::move(printable));
}

ConsoleSink& StandardOutput() {
  static StandardOutputSink* sink = new StandardOutputSink;
  return *sink;
}

}  // namespace palisard

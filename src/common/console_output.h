#pragma once

#include <string>

#if defined(__GNUC__)
#define PALISARD_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define PALISARD_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

namespace palisard {

// printf to standard output, flushed at once so that a console or a pipe
// sees each report as it happens. Safe to call from any thread.
void Print(const char* format, ...) PALISARD_PRINTF_FORMAT(1, 2);

// Where a piece of logic writes its console lines: standard output in the
// program, a recording in tests. Implementations are thread-safe: lines
// come from connection threads too.
class ConsoleSink {
 public:
  virtual ~ConsoleSink() = default;
  virtual void Write(const std::string& text) = 0;
  // Formats as printf does, then writes.
  void Print(const char* format, ...) PALISARD_PRINTF_FORMAT(2, 3);
};

// `text` without C0 control bytes, DEL and direction controls
// (WithoutDirectionControls): names, chat lines and answers from other
// machines pass through here before they reach the terminal, so they cannot
// move the cursor, clear the screen, retitle the window or turn the line
// around.
std::string PrintableText(const std::string& text);

// Standard output through Print; lives as long as the process.
ConsoleSink& StandardOutput();

}  // namespace palisard

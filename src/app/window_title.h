#pragma once

namespace palisard {

// Sets the console window's title: the console API on Windows, the
// terminal's title escape on Linux (only when standard output is a
// terminal, so pipes and logs stay clean).
void SetWindowTitle(const char* title);

}  // namespace palisard

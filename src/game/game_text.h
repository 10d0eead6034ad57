#pragma once

#include <string>

namespace palisard {

// Removes the game's colour codes ("^0" to "^9") and, with `htmlEscape`,
// turns "&", '"', "<" and ">" into their entities first. Each code is removed in one
// left-to-right scan, so "^^11" leaves "^1".
void CleanGameText(std::string& text, bool htmlEscape);

}  // namespace palisard

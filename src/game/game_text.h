#pragma once

#include <cstddef>
#include <string>

namespace palisard {

// The game's text as the match state keeps it and the pages show it: the
// colour codes ("^0" to "^9") and the direction controls
// (WithoutDirectionControls) removed, nothing escaped (escaping belongs
// where HTML or JSON is written). Each code is removed in one left-to-right
// scan, so "^^11" leaves "^1".
std::string CleanGameText(std::string text);

// `text` cut to at most `maxBytes` bytes, never inside a UTF-8 character;
// bytes that are not UTF-8 are cut where the limit falls.
std::string CutGameText(const std::string& text, std::size_t maxBytes);

}  // namespace palisard

#pragma once

#include <string>

namespace palisard {

// Replaces "<", ">", "&" and '"' by their entities: the one HTML escape of
// both programs' pages. Every text that is not the page's own markup goes
// through it where the page is written (attribute values are always in
// double quotes).
std::string EscapeHtml(const std::string& text);

}  // namespace palisard

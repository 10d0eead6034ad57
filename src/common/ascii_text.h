#pragma once

#include <string>
#include <string_view>

namespace palisard {

// Text of protocols and files, where only ASCII has a case and blanks are
// ASCII's.

// `text` without the blanks (space, tab, CR, LF) around it.
std::string_view Trimmed(std::string_view text);
// `text` with A to Z as a to z.
std::string AsciiLowercase(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace palisard

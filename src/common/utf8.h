#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace palisard {

// Strict UTF-8: overlong forms, surrogates and code points past U+10FFFF are
// not UTF-8.

// The byte length of the UTF-8 sequence that starts at `at`, or 0 when none
// does there.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);
// The code point of the sequence of `length` bytes at `at` (as
// Utf8SequenceLength measured it).
char32_t Utf8CodePoint(std::string_view text, std::size_t at, std::size_t length);
// The first `characters` code points of `text` (valid UTF-8), never cut
// inside one.
std::string Utf8Prefix(std::string_view text, std::size_t characters);
// `text` with each byte that starts no UTF-8 sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

}  // namespace palisard

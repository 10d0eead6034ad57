#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace palisard {

// Texts in a Discord message, which renders markdown and counts its limits
// in characters.

// `text` (from anyone: a player's appeal, a moderator's reason) as Discord
// shows it literally: every character its markdown gives a meaning (bold,
// links, quotes, headings, spoilers, <@mentions>, <t:timestamps>, @everyone)
// escaped with a backslash, bytes that are not UTF-8 replaced, and the
// direction controls dropped, so it cannot reorder the message around it.
std::string PlainDiscordText(std::string_view text);

// Characters as Discord counts them (UTF-16 units, as JavaScript does: one
// above U+FFFF counts two).
std::size_t DiscordLength(std::string_view text);

// `text` (UTF-8) in at most `limit` characters: whole, or cut at a
// character's boundary and ended with "…". A cut never leaves an escaping
// backslash without what it escaped.
std::string CutDiscordText(std::string_view text, std::size_t limit);

}  // namespace palisard

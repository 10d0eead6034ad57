#pragma once

#include <string_view>

namespace palisard {

// Where a player's public page lives on the public port, followed by his
// id: the pages serve it, chat messages link to it.
inline constexpr std::string_view kPlayerPagePath = "/player/";

}  // namespace palisard

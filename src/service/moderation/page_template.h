#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace palisard {

// The pages' own files (the skeleton, the front page) hold slots, "{{name}}",
// for what the code writes. A slot's value is markup: what it holds from
// outside is escaped by whoever gives it.
using Slot = std::pair<std::string_view, std::string_view>;

// `file` with each slot that `slots` names replaced by its value, wherever
// it appears; the values are not searched for slots.
std::string FillIn(std::string_view file, std::initializer_list<Slot> slots);

}  // namespace palisard

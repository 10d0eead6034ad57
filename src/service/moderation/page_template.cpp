#include "service/moderation/page_template.h"

#include <algorithm>

namespace palisard {

std::string FillIn(std::string_view file, std::initializer_list<Slot> slots) {
  std::string filled;
  std::size_t at = 0;
  for (std::size_t open = file.find("{{"); open != std::string_view::npos; open = file.find("{{", at)) {
    const std::size_t close = file.find("}}", open);
    if (close == std::string_view::npos) break;
    const std::string_view name = file.substr(open + 2, close - open - 2);
    const auto slot = std::find_if(slots.begin(), slots.end(), [&](const Slot& given) { return given.first == name; });
    filled.append(file.substr(at, open - at));
    filled.append(slot != slots.end() ? slot->second : file.substr(open, close + 2 - open));
    at = close + 2;
  }
  filled.append(file.substr(at));
  return filled;
}

}  // namespace palisard

#pragma once

#include <string>

namespace palisard {

// `text` without the explicit directional formatting characters: the
// embeddings and overrides U+202A to U+202E, the isolates U+2066 to U+2069
// and the marks U+200E, U+200F and U+061C. A player's name or chat line set
// beside a page's or the terminal's own text then keeps only the direction
// its letters give it: it cannot close the isolation around it or turn the
// text after it around. Every text of the game passes here before it is
// shown (CleanGameText for the pages, PrintableText for the terminal). A
// control that the removal of another brings together (the bytes of one
// around another) is removed as well; other bytes stay as they are.
std::string WithoutDirectionControls(std::string text);

// Whether `point` is one of those controls.
bool IsDirectionControl(char32_t point);

}  // namespace palisard

#pragma once

#include <cstddef>
#include <string>

#include "common/result.h"

namespace palisard {

// The texts people write into the store, each with its one limit: the store
// refuses a text that breaks it, the command line checks it before it opens
// the store (exit status 2), and the pages' forms take their maxlength from
// here.
enum class TextField { kReason, kAppeal, kAccountName, kWebhookUrl };

struct TextLimit {
  const char* what;     // "the reason", for messages
  std::size_t longest;  // in characters (code points)
  bool lines;           // line breaks allowed
};

const TextLimit& LimitOf(TextField field);

// Ok, or kInvalid with a message naming the field: not UTF-8, longer than
// its limit, a control character (C0 but tab, and line breaks where the
// field has lines; DEL; C1), or nothing but blanks, invisible and control
// characters.
Result CheckText(TextField field, const std::string& text);

}  // namespace palisard

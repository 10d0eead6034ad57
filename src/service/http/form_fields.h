#pragma once

#include <map>
#include <string>

namespace palisard {

// The fields of a form as browsers send it (application/x-www-form-urlencoded)
// or of a query string: '+' is a blank and %XX a byte; a '%' not followed by
// two hex digits stays as it is; bytes that are not UTF-8 become U+FFFD. The
// first of a repeated field counts.
using FormFields = std::map<std::string, std::string>;
FormFields ParseFormFields(const std::string& text);
// A field's value, or empty.
std::string Field(const FormFields& fields, const std::string& name);

// Encodes `text` for a query string: what is not a letter, a digit or one of
// "-._~" as %XX.
std::string QueryEncode(const std::string& text);

// The value of cookie `name` in a Cookie header, or empty.
std::string CookieValue(const std::string& header, const std::string& name);

}  // namespace palisard

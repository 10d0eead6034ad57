#include "service/http/form_fields.h"

#include <cctype>

#include "common/ascii_text.h"
#include "common/utf8.h"
#include "service/http/http_exchange.h"

namespace palisard {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Decoded(const std::string& text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      decoded += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      decoded += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

}  // namespace

FormFields ParseFormFields(const std::string& text) {
  FormFields fields;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(start, end - start);
    const std::size_t equals = pair.find('=');
    if (!pair.empty()) {
      fields.emplace(ValidUtf8(Decoded(pair.substr(0, equals))),
                     equals == std::string::npos ? "" : ValidUtf8(Decoded(pair.substr(equals + 1))));
    }
    start = end + 1;
  }
  return fields;
}

std::string Field(const FormFields& fields, const std::string& name) {
  const auto found = fields.find(name);
  return found == fields.end() ? std::string() : found->second;
}

std::string QueryEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 15];
    }
  }
  return encoded;
}

std::string CookieValue(const std::string& header, const std::string& name) {
  std::size_t start = 0;
  while (start < header.size()) {
    std::size_t end = header.find(';', start);
    if (end == std::string::npos) end = header.size();
    const std::string pair(Trimmed(std::string_view(header).substr(start, end - start)));
    const std::size_t equals = pair.find('=');
    if (equals != std::string::npos && pair.substr(0, equals) == name) return pair.substr(equals + 1);
    start = end + 1;
  }
  return "";
}

std::string PathOf(const std::string& target) { return target.substr(0, target.find('?')); }

std::string QueryOf(const std::string& target) {
  const std::size_t question = target.find('?');
  return question == std::string::npos ? "" : target.substr(question + 1);
}

}  // namespace palisard

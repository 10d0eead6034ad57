#include "app/profile_file.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace palisard {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

}  // namespace

ProfileFile ProfileFile::Load(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return ProfileFile{};
  std::ostringstream text;
  text << file.rdbuf();
  return Parse(text.str());
}

ProfileFile ProfileFile::Parse(const std::string& text) {
  ProfileFile profile;
  std::string section;
  std::istringstream lines(text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text);
  std::string line;
  while (std::getline(lines, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      std::size_t close = line.find(']');
      section = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      continue;
    }
    std::size_t equals = line.find('=');
    std::string key = Trim(line.substr(0, equals));
    std::string value = equals == std::string::npos ? "" : Unquote(Trim(line.substr(equals + 1)));
    profile.entries_.push_back(Entry{section, key, value});
  }
  return profile;
}

std::optional<std::string> ProfileFile::Find(const std::string& section, const std::string& key) const {
  for (const Entry& entry : entries_) {
    if (SameName(entry.section, section) && SameName(entry.key, key)) return entry.value;
  }
  return std::nullopt;
}

uint32_t ProfileFile::ReadInt(const std::string& section, const std::string& key, uint32_t defaultValue) const {
  std::optional<std::string> value = Find(section, key);
  if (!value || value->empty()) return defaultValue;
  return ParseProfileInteger(*value);
}

std::string ProfileFile::ReadString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                    std::size_t bufferSize) const {
  std::string value = Find(section, key).value_or(defaultValue);
  std::size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;
  if (value.size() > limit) value.resize(limit);
  return value;
}

uint32_t ParseProfileInteger(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  uint32_t base = 10;
  if (i + 1 < text.size() && text[i] == '0') {
    char prefix = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + 1])));
    if (prefix == 'x' || prefix == 'o' || prefix == 'b') {
      base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : 2;
      i += 2;
    }
  }
  uint32_t result = 0;
  for (; i < text.size(); ++i) {
    int digit = DigitValue(text[i]);
    if (digit >= static_cast<int>(base)) break;
    result = result * base + static_cast<uint32_t>(digit);
  }
  return negative ? 0u - result : result;
}

}  // namespace palisard

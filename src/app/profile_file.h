#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace palisard {

// A read-only INI ("profile") file, read the way the Windows profile
// functions read one, on every platform: section and key names match without
// regard to case, values are trimmed and lose one pair of enclosing quotes.
class ProfileFile {
 public:
  // A missing or unreadable file behaves as an empty one.
  static ProfileFile Load(const std::filesystem::path& path);
  static ProfileFile Parse(const std::string& text);

  // The value of the first matching key, or nothing when absent.
  std::optional<std::string> Find(const std::string& section, const std::string& key) const;

  // Like GetPrivateProfileInt: a missing or empty value gives `defaultValue`;
  // otherwise the leading number (optional sign, "0x"/"0o"/"0b" prefixes),
  // 0 when there is none, wrapping as an unsigned 32-bit value.
  uint32_t ReadInt(const std::string& section, const std::string& key, uint32_t defaultValue) const;

  // Like GetPrivateProfileString into a buffer of `bufferSize` bytes: at most
  // bufferSize - 1 characters are kept.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& defaultValue,
                         std::size_t bufferSize) const;

 private:
  struct Entry {
    std::string section;
    std::string key;
    std::string value;
  };
  std::vector<Entry> entries_;
};

// The integer prefix of `text` as the Windows profile functions take it.
uint32_t ParseProfileInteger(const std::string& text);

}  // namespace palisard

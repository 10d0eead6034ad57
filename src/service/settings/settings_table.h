#pragma once

#include <string>
#include <vector>

#include "common/result.h"
#include "service/settings/serve_settings.h"

namespace palisard {

// Every setting of `serve`, each a long option ("--listen ADDR:PORT") and a
// key of the settings file ("listen = ADDR:PORT") of the same name: its
// name, the kind of value, and what it does with its default.
struct SettingDescription {
  std::string name;
  std::string valueName;
  std::string help;
};
std::vector<SettingDescription> ServeSettingDescriptions();

// Sets the setting `name` from `text`: kNotFound when no setting has the
// name, kInvalid for a bad value.
Result ApplyServeSetting(const std::string& name, const std::string& text, ServeSettings* settings);
// What the settings must be together: both lines of the version file, or
// neither.
Result CheckServeSettings(const ServeSettings& settings);

// The settings file: one "key = value" a line; blank lines and lines that
// begin with '#' are skipped. An unknown key, a key set twice or a bad value
// is an error naming the file and the line.
Result ReadServeSettingsFile(const std::string& path, ServeSettings* settings);

}  // namespace palisard

#pragma once

#include <string>
#include <vector>

#include "common/result.h"
#include "service/command_line.h"
#include "service/serve_settings.h"

namespace palisard {

// Every setting of `serve`, each a long option ("--listen ADDR:PORT") and a
// key of the settings file ("listen = ADDR:PORT") of the same name, with its
// default in the help.
std::vector<OptionSyntax> ServeSettingOptions();

// The settings file: one "key = value" a line; blank lines and lines that
// begin with '#' are skipped. An unknown key, a key set twice or a bad value
// is an error naming the file and the line.
Result ReadServeSettingsFile(const std::string& path, ServeSettings* settings);

// The settings a command runs with: the defaults, then the file that
// "--config" names (when given), then the serve options given on the
// command line, which win.
Result ResolveServeSettings(const CommandArguments& args, ServeSettings* settings);

}  // namespace palisard

#include "service/settings/settings_table.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <set>
#include <type_traits>

#include "common/ascii_text.h"
#include "service/values/source_network.h"

namespace palisard {
namespace {

std::string Decimal(double value) {
  std::string text = std::to_string(value);
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  return text;
}

template <typename Number>
std::string NumberText(Number number) {
  if constexpr (std::is_floating_point_v<Number>) {
    return Decimal(number);
  } else {
    return std::to_string(number);
  }
}

template <typename Number>
Result ParseNumber(const std::string& text, Number least, Number most, Number* value) {
  Number number{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  // Written so that a NaN fails it too.
  const bool inRange = number >= least && number <= most;
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !inRange) {
    return Result::Invalid("'" + text + "' is not a number from " + NumberText(least) + " to " + NumberText(most));
  }
  *value = number;
  return Result::Ok();
}

Result ParseFileName(const std::string& text, std::string* value) {
  if (text.empty()) return Result::Invalid("the file is empty");
  *value = text;
  return Result::Ok();
}

Result ParseSeconds(const std::string& text, std::chrono::seconds* value) {
  int64_t seconds = 0;
  Result result = ParseNumber<int64_t>(text, 1, 3600, &seconds);
  if (result.ok()) *value = std::chrono::seconds(seconds);
  return result;
}

// What the version file serves goes into a two-line answer: no line breaks,
// no blanks in the version.
Result ParseVersionText(const std::string& text, std::string* value, bool blanksAllowed) {
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || (!blanksAllowed && c == ' ')) {
      return Result::Invalid("'" + text + "' holds a control character" + (blanksAllowed ? "" : " or a blank"));
    }
  }
  *value = text;
  return Result::Ok();
}

// Items apart by commas, blanks around them dropped.
std::vector<std::string> ListItems(const std::string& text) {
  std::vector<std::string> items;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    std::string item = text.substr(start, comma - start);
    item.erase(0, item.find_first_not_of(' '));
    item.erase(item.find_last_not_of(' ') + 1);
    items.push_back(item);
    start = comma + 1;
  }
  return items;
}

std::string JoinedList(const std::vector<std::string>& items) {
  std::string list;
  for (const std::string& item : items) list += (list.empty() ? "" : ",") + item;
  return list;
}

// Numeric addresses, apart by commas.
Result ParseAddresses(const std::string& text, std::vector<std::string>* addresses) {
  std::vector<std::string> parsed = ListItems(text);
  for (const std::string& address : parsed) {
    if (!SourceNetwork(address)) return Result::Invalid("'" + address + "' is not a numeric address");
  }
  *addresses = std::move(parsed);
  return Result::Ok();
}

// Host names or numeric addresses, with or without a port, apart by commas.
Result ParseHostNames(const std::string& text, std::vector<std::string>* names) {
  std::vector<std::string> parsed = ListItems(text);
  for (const std::string& name : parsed) {
    const bool plain = !name.empty() && name.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789.-:[]") == std::string::npos;
    if (!plain) return Result::Invalid("'" + name + "' is not a host name");
  }
  *names = std::move(parsed);
  return Result::Ok();
}

// A flag on the command line (empty), true or false in the settings file.
Result ParseSwitch(const std::string& text, bool* value) {
  if (text.empty() || text == "true") {
    *value = true;
  } else if (text == "false") {
    *value = false;
  } else {
    return Result::Invalid("'" + text + "' is neither true nor false");
  }
  return Result::Ok();
}

// An http:// or https:// address, its trailing '/' dropped.
Result ParseBaseUrl(const std::string& text, std::string* value) {
  const bool web = text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0;
  if (!web || text.find_first_of(" \"<>\\") != std::string::npos ||
      std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x21; })) {
    return Result::Invalid("'" + text + "' is not an http:// or https:// address");
  }
  *value = text.substr(0, text.find_last_not_of('/') + 1);
  return Result::Ok();
}

struct ServeSetting {
  const char* name;
  const char* valueName;
  const char* help;
  Result (*apply)(const std::string& text, ServeSettings* settings);
  std::string (*show)(const ServeSettings& settings);
};

const ServeSetting kServeSettings[] = {
    // The server reads the address: one reader, whichever way it came.
    {"listen", "ADDR:PORT", "numeric address and port of the public port",
     [](const std::string& text, ServeSettings* s) {
       s->listen = text;
       return Result::Ok();
     },
     [](const ServeSettings& s) { return s.listen; }},
    {"moderation-listen", "ADDR:PORT", "numeric address and port of the moderation pages",
     [](const std::string& text, ServeSettings* s) {
       s->moderationListen = text;
       return Result::Ok();
     },
     [](const ServeSettings& s) { return s.moderationListen; }},
    {"moderation-host", "NAME[,NAME...]",
     "host names the moderation pages answer to (default: the moderation-listen address and localhost)",
     [](const std::string& text, ServeSettings* s) { return ParseHostNames(text, &s->moderationHosts); },
     [](const ServeSettings& s) { return JoinedList(s.moderationHosts); }},
    {"database", "URL", "an SQLite file, or postgresql://... for PostgreSQL",
     [](const std::string& text, ServeSettings* s) {
       if (text.empty()) return Result::Invalid("the database is empty");
       s->database = text;
       return Result::Ok();
     },
     [](const ServeSettings& s) { return s.database; }},
    {"latest-version", "VERSION", "the newest release, first line of /version.txt",
     [](const std::string& text, ServeSettings* s) { return ParseVersionText(text, &s->latestVersion, false); },
     [](const ServeSettings& s) { return s.latestVersion; }},
    {"download-url", "URL", "where to get it, second line of /version.txt",
     [](const std::string& text, ServeSettings* s) { return ParseVersionText(text, &s->downloadUrl, true); },
     [](const ServeSettings& s) { return s.downloadUrl; }},
    {"network-burst", "N", "reports one source network may send at once",
     [](const std::string& text, ServeSettings* s) {
       return ParseNumber<double>(text, 1, 1e6, &s->reportLimits.networkBurst);
     },
     [](const ServeSettings& s) { return Decimal(s.reportLimits.networkBurst); }},
    {"network-per-hour", "N", "and then per hour",
     [](const std::string& text, ServeSettings* s) {
       return ParseNumber<double>(text, 0.01, 1e6, &s->reportLimits.networkPerHour);
     },
     [](const ServeSettings& s) { return Decimal(s.reportLimits.networkPerHour); }},
    {"pair-per-day", "N", "reports of one player by one reporter id a day",
     [](const std::string& text, ServeSettings* s) {
       return ParseNumber<int>(text, 1, 1000000, &s->reportLimits.pairPerDay);
     },
     [](const ServeSettings& s) { return std::to_string(s.reportLimits.pairPerDay); }},
    {"reported-per-hour", "N", "reports of one player an hour, from anyone",
     [](const std::string& text, ServeSettings* s) {
       return ParseNumber<int>(text, 1, 1000000, &s->reportLimits.reportedPerHour);
     },
     [](const ServeSettings& s) { return std::to_string(s.reportLimits.reportedPerHour); }},
    {"header-deadline", "SECONDS", "time a client has to send a request's header",
     [](const std::string& text, ServeSettings* s) { return ParseSeconds(text, &s->headerDeadline); },
     [](const ServeSettings& s) { return std::to_string(s.headerDeadline.count()); }},
    {"body-deadline", "SECONDS", "and its body",
     [](const std::string& text, ServeSettings* s) { return ParseSeconds(text, &s->bodyDeadline); },
     [](const ServeSettings& s) { return std::to_string(s.bodyDeadline.count()); }},
    {"connections-per-address", "N", "connections one source address may hold",
     [](const std::string& text, ServeSettings* s) {
       return ParseNumber<std::size_t>(text, 1, 1000000, &s->connectionsPerAddress);
     },
     [](const ServeSettings& s) { return std::to_string(s.connectionsPerAddress); }},
    {"max-connections", "N", "connections in all",
     [](const std::string& text, ServeSettings* s) {
       return ParseNumber<std::size_t>(text, 1, 1000000, &s->maxConnections);
     },
     [](const ServeSettings& s) { return std::to_string(s.maxConnections); }},
    {"trusted-proxy", "ADDR[,ADDR...]", "load balancers in front, whose X-Forwarded-For names the client",
     [](const std::string& text, ServeSettings* s) { return ParseAddresses(text, &s->trustedProxies); },
     [](const ServeSettings& s) { return JoinedList(s.trustedProxies); }},
    {"store-deadline", "SECONDS", "a request whose database call takes longer gets a SOAP fault (players wait 5 s)",
     [](const std::string& text, ServeSettings* s) { return ParseSeconds(text, &s->storeDeadline); },
     [](const ServeSettings& s) { return std::to_string(s.storeDeadline.count()); }},
    {"store-workers", "N", "threads talking to the database for the players, each with a connection; the pages add 2",
     [](const std::string& text, ServeSettings* s) { return ParseNumber<std::size_t>(text, 1, 256, &s->storeWorkers); },
     [](const ServeSettings& s) { return std::to_string(s.storeWorkers); }},
    {"case-threshold", "N", "distinct source networks whose reports make a case's webhook event case.threshold",
     [](const std::string& text, ServeSettings* s) {
       return ParseNumber<int>(text, 2, 1000, &s->reportLimits.caseThreshold);
     },
     [](const ServeSettings& s) { return std::to_string(s.reportLimits.caseThreshold); }},
    {"public-url", "URL", "the public pages' address, which webhook messages link to (default http:// and listen)",
     [](const std::string& text, ServeSettings* s) { return ParseBaseUrl(text, &s->publicUrl); },
     [](const ServeSettings& s) { return s.publicUrl; }},
    {"webhook-allow-private", "",
     "let webhooks reach loopback and private networks (the metadata addresses never); true or false in the file",
     [](const std::string& text, ServeSettings* s) { return ParseSwitch(text, &s->webhookAllowPrivate); },
     [](const ServeSettings& s) { return std::string(s.webhookAllowPrivate ? "true" : "false"); }},
    {"webhook-ca-file", "FILE", "PEM certificates trusted for https webhooks besides the system's",
     [](const std::string& text, ServeSettings* s) { return ParseFileName(text, &s->webhookCaFile); },
     [](const ServeSettings& s) { return s.webhookCaFile; }},
    {"feed-key", "FILE", "the shared ban feed's secret key, which 'feed key' makes; without it no feed is served",
     [](const std::string& text, ServeSettings* s) { return ParseFileName(text, &s->feedKey); },
     [](const ServeSettings& s) { return s.feedKey; }},
    {"feed-reasons", "first-line|full|none", "how much of each ban's reason the shared feed publishes",
     [](const std::string& text, ServeSettings* s) {
       const std::optional<FeedReasons> reasons = FeedReasonsOf(text);
       if (!reasons) return Result::Invalid("'" + text + "' is not first-line, full or none");
       s->feedReasons = *reasons;
       return Result::Ok();
     },
     [](const ServeSettings& s) { return std::string(FeedReasonsWord(s.feedReasons)); }},
};

const ServeSetting* FindServeSetting(const std::string& name) {
  for (const ServeSetting& setting : kServeSettings) {
    if (name == setting.name) return &setting;
  }
  return nullptr;
}

}  // namespace

std::vector<SettingDescription> ServeSettingDescriptions() {
  const ServeSettings defaults;
  std::vector<SettingDescription> descriptions;
  for (const ServeSetting& setting : kServeSettings) {
    const std::string value = setting.show(defaults);
    descriptions.push_back({setting.name, setting.valueName,
                            std::string(setting.help) + " (default " + (value.empty() ? "none" : value) + ")"});
  }
  return descriptions;
}

Result ApplyServeSetting(const std::string& name, const std::string& text, ServeSettings* settings) {
  const ServeSetting* setting = FindServeSetting(name);
  if (setting == nullptr) return Result::NotFound("unknown setting '" + name + "'");
  return setting->apply(text, settings);
}

Result CheckServeSettings(const ServeSettings& settings) {
  if (settings.latestVersion.empty() != settings.downloadUrl.empty()) {
    return Result::Invalid("latest-version and download-url are set together or not at all");
  }
  return Result::Ok();
}

std::string PublicUrl(const ServeSettings& settings, const std::string& hostName) {
  if (!settings.publicUrl.empty()) return settings.publicUrl;
  const std::size_t colon = settings.listen.rfind(':');
  std::string host = settings.listen.substr(0, colon);
  const std::string port = colon == std::string::npos ? "" : settings.listen.substr(colon);
  if (host == "0.0.0.0" || host == "[::]" || host.empty()) host = hostName;
  return "http://" + host + (port == ":80" ? "" : port);
}

Result ReadServeSettingsFile(const std::string& path, ServeSettings* settings) {
  std::ifstream file(path);
  if (!file) return Result::NotFound("cannot read " + path + ": " + std::strerror(errno), errno);
  std::set<std::string> seen;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    const std::string where = path + ":" + std::to_string(number) + ": ";
    line = std::string(Trimmed(line));
    if (line.empty() || line[0] == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return Result::Invalid(where + "expected 'key = value'");
    const std::string key(Trimmed(std::string_view(line).substr(0, equals)));
    const ServeSetting* setting = FindServeSetting(key);
    if (setting == nullptr) return Result::Invalid(where + "unknown setting '" + key + "'");
    if (!seen.insert(key).second) return Result::Invalid(where + key + " is set twice");
    Result applied = setting->apply(std::string(Trimmed(std::string_view(line).substr(equals + 1))), settings);
    if (!applied.ok()) return Result::Invalid(where + key + ": " + applied.text());
  }
  if (file.bad()) return Result::Failed("cannot read " + path, errno);
  Result paired = CheckServeSettings(*settings);
  return paired.ok() ? paired : Result::Invalid(path + ": " + paired.text());
}

}  // namespace palisard

#include "service/cli/feed_commands.h"

#include <ostream>

#include "service/feed/feed_key_file.h"

namespace palisard {
namespace {

// The key file the settings name.
Result FeedKeyPath(const CommandArguments& args, std::string* path) {
  ServeSettings settings;
  Result result = ResolveServeSettings(args, &settings);
  if (result.ok() && settings.feedKey.empty()) {
    result = Result::Invalid("no feed-key is set: name the key's file with --feed-key or in the --config file");
  }
  if (result.ok()) *path = settings.feedKey;
  return result;
}

Result RunKey(const CommandArguments& args, CliContext& context) {
  std::string path;
  FeedKey key;
  Result result = FeedKeyPath(args, &path);
  if (result.ok()) result = MakeFeedKey(&key);
  if (result.ok()) result = WriteNewFeedKey(path, key);
  if (!result.ok()) return result;
  context.out << "wrote the feed's secret key to " << path << " (only its owner reads it); its public key:\n"
              << FeedPublicKey(key) << "\n";
  return Result::Ok();
}

Result RunShow(const CommandArguments& args, CliContext& context) {
  std::string path;
  FeedKey key;
  Result result = FeedKeyPath(args, &path);
  if (result.ok()) result = ReadFeedKey(path, &key);
  if (!result.ok()) return result;
  context.out << FeedPublicKey(key) << "\n";
  return Result::Ok();
}

std::vector<OptionSyntax> FeedKeyOptions() {
  return {{"feed-key", "FILE", "the secret key's file (as serve's setting feed-key)"},
          {"config", "FILE", "take feed-key from serve's settings file"}};
}

}  // namespace

std::vector<Command> FeedCommands() {
  return {
      {{"feed key",
        {},
        "make the key pair that signs the shared ban feed",
        "The secret key goes to the feed-key file, readable by its owner alone (run this as the service's user);\n"
        "an existing file is never replaced. The public key is printed as minisign writes it.",
        FeedKeyOptions()},
       RunKey},
      {{"feed show",
        {},
        "print the feed's public key as minisign writes it (minisign -P takes it)",
        "",
        FeedKeyOptions()},
       RunShow},
  };
}

}  // namespace palisard

#include "service/feed/feed_key_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace palisard {
namespace {

// A key file is a few lines; anything longer is no key of ours.
constexpr std::size_t kLongestKeyFile = 4096;

std::string Why(const std::string& path) { return path + ": " + std::strerror(errno); }

}  // namespace

Result WriteNewFeedKey(const std::string& path, const FeedKey& key) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 && errno == EEXIST) {
    return Result::Invalid(path + " exists already: the feed's followers know its key, so it is not replaced");
  }
  if (fd < 0) return Result::Failed("cannot create " + Why(path), errno);
  const std::string text = FeedKeyText(key);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  const bool synced = written == text.size() && fsync(fd) == 0;
  const int error = errno;
  close(fd);
  if (synced) return Result::Ok();
  errno = error;
  const Result failed = Result::Failed("cannot write " + Why(path), error);
  unlink(path.c_str());
  return failed;
}

Result ReadFeedKey(const std::string& path, FeedKey* key) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return Result::NotFound("no feed key at " + path + " ('feed key' makes one)");
  if (fd < 0) return Result::Failed("cannot read " + Why(path), errno);
  std::string text(kLongestKeyFile + 1, '\0');
  std::size_t read = 0;
  for (ssize_t n = 1; n != 0 && read < text.size();) {
    n = ::read(fd, text.data() + read, text.size() - read);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    read += static_cast<std::size_t>(n);
  }
  close(fd);
  text.resize(read);
  const Result parsed = ReadFeedKeyText(text, key);
  return parsed.ok() ? parsed : Result::Invalid(path + ": " + parsed.text());
}

}  // namespace palisard

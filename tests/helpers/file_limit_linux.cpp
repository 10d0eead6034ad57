#include <sys/resource.h>

namespace palisard {
namespace {

// Load tests hold a thousand and more sockets: lift the soft limit on open
// files to the hard one before any test runs.
const bool raised = [] {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  limit.rlim_cur = limit.rlim_max;
  return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}();

}  // namespace
}  // namespace palisard

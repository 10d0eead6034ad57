#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "helpers/network_namespace.h"

namespace palisard {
namespace {

int Shell(const std::string& command) { return std::system(command.c_str()); }

std::string NewName() {
  static std::atomic<int> counter{0};
  return "palisard-t" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

bool RunningAsRoot() { return geteuid() == 0; }

NetworkNamespace::NetworkNamespace() : name_(NewName()) {
  if (Shell("ip netns add " + name_) != 0) throw std::runtime_error("cannot create namespace " + name_);
  Run("ip link set lo up");
}

NetworkNamespace::~NetworkNamespace() { Shell("ip netns del " + name_ + " 2>/dev/null"); }

int NetworkNamespace::Run(const std::string& command) const {
  return Shell("ip netns exec " + name_ + " sh -c '" + command + "'");
}

std::string NetworkNamespace::Capture(const std::string& command) const {
  std::string output;
  FILE* pipe = popen(("ip netns exec " + name_ + " sh -c '" + command + "'").c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  std::size_t got;
  while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, got);
  pclose(pipe);
  return output;
}

void NetworkNamespace::Enter() const {
  int fd = open(("/var/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) std::abort();
  close(fd);
}

void LinkNamespaces(const NetworkNamespace& a, const std::string& addressA, const NetworkNamespace& b,
                    const std::string& addressB) {
  static std::atomic<int> counter{0};
  std::string suffix = std::to_string(getpid() % 10000) + "x" + std::to_string(counter++);
  std::string endA = "pa" + suffix;
  std::string endB = "pb" + suffix;
  Shell("ip link add " + endA + " netns " + a.name() + " type veth peer name " + endB + " netns " + b.name());
  // An IPv6 address is usable at once, not after duplicate detection.
  const auto withPrefix = [](const std::string& address) {
    return address.find(':') == std::string::npos ? address + "/24" : address + "/64 nodad";
  };
  a.Run("ip addr add " + withPrefix(addressA) + " dev " + endA + " && ip link set " + endA + " up");
  b.Run("ip addr add " + withPrefix(addressB) + " dev " + endB + " && ip link set " + endB + " up");
}

}  // namespace palisard

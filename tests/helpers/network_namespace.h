#pragma once

#include <string>
#include <thread>
#include <type_traits>

namespace palisard {

bool RunningAsRoot();

// A private network namespace made for one test (root only), with its
// loopback up; deleted with everything in it when the object goes away.
class NetworkNamespace {
 public:
  NetworkNamespace();
  ~NetworkNamespace();
  NetworkNamespace(const NetworkNamespace&) = delete;
  NetworkNamespace& operator=(const NetworkNamespace&) = delete;

  const std::string& name() const { return name_; }
  // Runs a shell command inside the namespace; returns its exit status.
  int Run(const std::string& command) const;
  // Runs a shell command inside the namespace; returns its standard output.
  std::string Capture(const std::string& command) const;

  // Runs `work` on a thread that has entered the namespace: sockets and
  // netlink contexts it opens stay in the namespace afterwards.
  template <typename Work>
  auto Inside(Work work) const {
    using Result = decltype(work());
    if constexpr (std::is_void_v<Result>) {
      std::thread([&] {
        Enter();
        work();
      }).join();
    } else {
      Result result{};
      std::thread([&] {
        Enter();
        result = work();
      }).join();
      return result;
    }
  }

 private:
  void Enter() const;
  std::string name_;
};

// Joins two namespaces with a veth pair; each end gets its address (an
// IPv4 /24 or an IPv6 /64).
void LinkNamespaces(const NetworkNamespace& a, const std::string& addressA, const NetworkNamespace& b,
                    const std::string& addressB);

}  // namespace palisard

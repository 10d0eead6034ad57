#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "helpers/network_namespace.h"

namespace palisard {

// Waits up to `limit` for `condition`, looking every 100 ms.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

// The firewall's rules in `machine` once they name `address`, or as they
// stand after five seconds.
inline std::string RulesetOnceItNames(NetworkNamespace& machine, const std::string& address) {
  std::string ruleset;
  Eventually(
      [&] {
        ruleset = machine.Capture("nft list ruleset");
        return ruleset.find(address) != std::string::npos;
      },
      std::chrono::seconds(5));
  return ruleset;
}

}  // namespace palisard

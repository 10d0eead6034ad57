#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "helpers/network_namespace.h"
#include "helpers/temp_dir.h"
#include "system/child_process.h"

namespace palisard {

// A player of the tests' matches: the name the game shows, the community id
// and the address on the test network.
struct Player {
  const char* name;
  const char* id;
  const char* address;
};

// One player's machine for the tests across machines: a network namespace
// with its own address on the test network, and a PID namespace (with its
// own /proc) holding that machine's game stand-in and Palisard, so each copy
// finds only its own game.
class Machine {
 public:
  Machine(const std::string& name, const std::string& address);
  ~Machine();

  const std::string& name() const { return name_; }
  const std::string& address() const { return address_; }
  NetworkNamespace& network() { return network_; }

  enum class Build { kLinux, kWindows };
  // Starts the stand-in and then Palisard with `settings` as Palisard.ini;
  // the Windows build runs both under Wine, beside the recording stand-in
  // of the filtering API.
  void Start(const std::string& settings, Build build = Build::kLinux);
  // A console line of this machine's Palisard (CR LF on Windows).
  std::string Line(const std::string& text) const;
  // Sends commands (one per line) to the stand-in.
  void Game(const std::string& commands);
  ChildProcess& palisard() { return *launcher_; }
  // Palisard's process id as seen from the test, for signals.
  pid_t PalisardPid() const;
  // Fetches `path` from this machine's web console, as a browser on it would.
  std::string Browse(const std::string& path);
  // True when a TCP connection from this machine to `address`:`port` succeeds.
  bool CanConnect(const std::string& address, int port);
  std::string Ruleset();
  // The Windows build's calls into the filtering API.
  std::string FilterCalls() const;

 private:
  std::string name_;
  std::string address_;
  NetworkNamespace network_;
  TempDir dir_;
  Build build_ = Build::kLinux;
  int gameInput_ = -1;
  std::unique_ptr<ChildProcess> launcher_;
};

// The test network: a bridge in a namespace of its own that every machine's
// veth joins (198.18.0.0/24).
class TestNetwork {
 public:
  TestNetwork();
  void Attach(Machine& machine);

 private:
  NetworkNamespace switch_;
  int ports_ = 0;
};

}  // namespace palisard

#include "system/palisard_process.h"

#include "common/socket.h"

namespace palisard {

int FreeAdminPort() {
  for (int port = 3061; port <= 3072; ++port) {
    Socket probe(OpenTcpSocket());
    if (BindAnyAddress(probe.get(), static_cast<uint16_t>(port)) == 0 && ListenForConnections(probe.get()) == 0) {
      return port;
    }
  }
  return 0;
}

PalisardProcess::PalisardProcess(const std::string& settings) {
  dir_.Write("Palisard.ini", settings);
  process_ = std::make_unique<ChildProcess>(std::vector<std::string>{PALISARD_EXE}, dir_.path());
}

std::string TestSettings(int adminPort, const std::string& extraLines) {
  return "[Palisard]\nAdminPort=" + std::to_string(adminPort) +
         "\nHttpPort=0\nCheckForUpdates=0\nBanStreaming=0\n" + extraLines;
}

}  // namespace palisard

#include "helpers/fake_admin_host.h"

#include "admin/admin_protocol.h"
#include "common/byte_order.h"

namespace palisard {

FakeAdminHost::FakeAdminHost(Ipv4Endpoint where, Answer answer) : where_(where), answer_(std::move(answer)) {
  if (!OpenTcpSocket(&listener_).ok() || !BindAddress(listener_.get(), where_).ok() ||
      !ListenForConnections(listener_.get()).ok()) {
    listener_.reset();
    return;
  }
  thread_ = std::thread(&FakeAdminHost::Serve, this);
}

FakeAdminHost::~FakeAdminHost() {
  stopping_ = true;
  if (thread_.joinable()) {
    Socket wake;
    if (OpenTcpSocket(&wake).ok()) (void)ConnectTo(wake.get(), where_, std::chrono::seconds(1));  // a wake-up
    thread_.join();
  }
}

std::vector<uint16_t> FakeAdminHost::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

void FakeAdminHost::Serve() {
  while (!stopping_) {
    Socket client;
    const Result accepted = AcceptConnection(listener_.get(), &client, nullptr);
    if (stopping_ || !accepted.ok()) continue;
    if (!SetIoTimeout(client.get(), std::chrono::seconds(2)).ok()) continue;
    uint8_t header[kAdminHeaderSize];
    if (!ReceiveExactly(client.get(), header, sizeof(header)).ok()) continue;
    uint16_t type = ReadLe16(header + 4);
    std::vector<uint8_t> payload(type == kAdminQuery ? 4 : ReadLe16(header + 6));
    if (!ReceiveExactly(client.get(), payload.data(), payload.size()).ok()) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.push_back(type);
    }
    std::vector<uint8_t> answer = answer_(type, payload);
    if (!answer.empty()) (void)SendAll(client.get(), answer.data(), answer.size());
    ShutdownSend(client.get());
  }
}

}  // namespace palisard

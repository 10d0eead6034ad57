#include "system/admin_voter.h"

#include <vector>

#include "admin/admin_protocol.h"
#include "common/byte_order.h"
#include "helpers/http_client.h"

namespace palisard {
namespace {

std::string Exchange(uint16_t port, uint32_t from, const std::vector<uint8_t>& message) {
  Socket socket = ConnectToLoopback(port, from);
  if (!socket.valid()) return "";
  if (!SendAll(socket.get(), message.data(), message.size()).ok()) return "";
  return ReadUntilClosed(socket.get());
}

}  // namespace

std::string VoteKickThroughAdminPort(const NetworkNamespace& machine, uint16_t port, uint64_t voterId,
                                     uint32_t voterAddress, uint64_t targetId) {
  return machine.Inside([&]() -> std::string {
    std::string reply = Exchange(port, voterAddress, EncodeRegister(voterId));
    const auto* bytes = reinterpret_cast<const uint8_t*>(reply.data());
    if (reply.size() != kAdminHeaderSize + 4 || ReadLe16(bytes + 4) != kAdminRegister) {
      return "registration refused: " + (reply.size() > kAdminHeaderSize ? reply.substr(kAdminHeaderSize) : reply);
    }
    VoteKickRequest vote{ReadLe32(bytes + kAdminHeaderSize), voterId, targetId};
    reply = Exchange(port, voterAddress, EncodeVoteKick(vote));
    return reply.size() > kAdminHeaderSize ? reply.substr(kAdminHeaderSize) : "no answer";
  });
}

}  // namespace palisard

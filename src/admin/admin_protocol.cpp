#include "admin/admin_protocol.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"

namespace palisard {
namespace {

constexpr uint8_t kMagic[4] = {'P', 'L', 'S', 'D'};

std::vector<uint8_t> Message(uint16_t type, uint16_t length, std::size_t payloadSize) {
  std::array<uint8_t, kAdminHeaderSize> header = EncodeAdminHeader(type, length);
  std::vector<uint8_t> message(header.begin(), header.end());
  message.resize(kAdminHeaderSize + payloadSize, 0);
  return message;
}

}  // namespace

std::array<uint8_t, kAdminHeaderSize> EncodeAdminHeader(uint16_t type, uint16_t length) {
  std::array<uint8_t, kAdminHeaderSize> header{};
  std::memcpy(header.data(), kMagic, sizeof(kMagic));
  WriteLe16(header.data() + 4, type);
  WriteLe16(header.data() + 6, length);
  return header;
}

std::optional<AdminHeader> DecodeAdminHeader(const uint8_t* bytes) {
  AdminHeader header{ReadLe16(bytes + 4), ReadLe16(bytes + 6)};
  if (std::memcmp(bytes, kMagic, sizeof(kMagic)) != 0) return std::nullopt;
  if (header.type < kAdminQuery || header.type > kAdminVoteKick) return std::nullopt;
  if (header.length > kAdminMaxLength) return std::nullopt;
  return header;
}

std::vector<uint8_t> EncodeQuery(uint16_t kind) {
  std::vector<uint8_t> message = Message(kAdminQuery, 4, 4);
  WriteLe16(message.data() + 8, kind);  // the reserved u16 stays 0
  return message;
}

std::vector<uint8_t> EncodePingReply() { return Message(kAdminQueryReply, 0, 0); }

std::vector<uint8_t> EncodeRegister(uint64_t communityId) {
  std::vector<uint8_t> message = Message(kAdminRegister, 8, 8);
  WriteLe64(message.data() + 8, communityId);
  return message;
}

std::vector<uint8_t> EncodeRegisterReply(uint32_t key) {
  std::vector<uint8_t> message = Message(kAdminRegister, 4, 4);
  WriteLe32(message.data() + 8, key);
  return message;
}

std::vector<uint8_t> EncodeVoteKick(const VoteKickRequest& request) {
  std::vector<uint8_t> message = Message(kAdminVoteKick, 24, 24);
  WriteLe32(message.data() + 8, request.key);
  WriteLe64(message.data() + 16, request.voterId);
  WriteLe64(message.data() + 24, request.targetId);
  return message;
}

VoteKickRequest DecodeVoteKick(const uint8_t* payload) {
  return VoteKickRequest{ReadLe32(payload), ReadLe64(payload + 8), ReadLe64(payload + 16)};
}

std::vector<uint8_t> EncodeTextReply(const std::string& text) {
  const std::size_t length = std::min<std::size_t>(text.size(), kAdminMaxLength);
  std::vector<uint8_t> message = Message(kAdminTextReply, static_cast<uint16_t>(length), length);
  std::memcpy(message.data() + kAdminHeaderSize, text.data(), length);
  return message;
}

std::vector<uint8_t> EncodeVoteCounts(uint32_t votesNeeded, const std::vector<VoteCount>& records) {
  std::vector<uint8_t> message = Message(kAdminQueryReply, 4, 8 + records.size() * kVoteRecordSize);
  uint8_t* payload = message.data() + kAdminHeaderSize;
  WriteLe16(payload, kAdminVoteCounts);
  WriteLe16(payload + 2, static_cast<uint16_t>(records.size()));
  WriteLe32(payload + 4, votesNeeded);
  for (std::size_t i = 0; i < records.size(); ++i) {
    uint8_t* record = payload + 8 + i * kVoteRecordSize;  // padding stays zero
    WriteLe64(record, records[i].communityId);
    record[8] = records[i].votes;
  }
  return message;
}

std::optional<AdminHeader> ReceiveAdminHeader(SocketHandle socket, const Deadline& deadline) {
  uint8_t bytes[kAdminHeaderSize];
  if (!ReceiveExactlyBefore(socket, deadline, bytes, sizeof(bytes))) return std::nullopt;
  return DecodeAdminHeader(bytes);
}

}  // namespace palisard

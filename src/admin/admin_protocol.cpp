#include "admin/admin_protocol.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"
#include "game/match_data.h"

namespace palisard {
namespace {

constexpr uint8_t kMagic[4] = {'P', 'L', 'S', 'D'};

constexpr std::size_t kQuerySize = 4;
constexpr std::size_t kRegisterSize = 8;
constexpr std::size_t kRegisterReplySize = 4;
constexpr std::size_t kVoteKickSize = 24;
// A vote table: kind and count (the 4 bytes its length counts), the
// threshold, then one record per slot.
constexpr std::size_t kVoteTableHeadSize = 8;
constexpr std::size_t kVoteRecordSize = 16;

Result Broken(const char* what) { return Result::Failure(Result::Kind::kInvalid, 0, what); }
Result OtherAnswer(const char* what) { return Result::Failure(Result::Kind::kConflict, 0, what); }

std::vector<uint8_t> Message(uint16_t type, uint16_t length, std::size_t payloadSize) {
  std::array<uint8_t, kAdminHeaderSize> header = EncodeAdminHeader(type, length);
  std::vector<uint8_t> message(header.begin(), header.end());
  message.resize(kAdminHeaderSize + payloadSize, 0);
  return message;
}

Result ReceiveHeader(SocketHandle socket, const Deadline& deadline, AdminHeader* header) {
  uint8_t bytes[kAdminHeaderSize];
  if (Result received = ReceiveExactlyBefore(socket, deadline, bytes, sizeof(bytes)); !received.ok()) return received;
  return DecodeAdminHeader(bytes, header);
}

QueryRequest DecodeQuery(const uint8_t* payload) { return {ReadLe16(payload)}; }  // the reserved u16 is ignored

RegisterRequest DecodeRegister(const uint8_t* payload) { return {ReadLe64(payload)}; }

VoteKickRequest DecodeVoteKick(const uint8_t* payload) {
  return {ReadLe32(payload), ReadLe64(payload + 8), ReadLe64(payload + 16)};  // the reserved u32 is ignored
}

}  // namespace

std::array<uint8_t, kAdminHeaderSize> EncodeAdminHeader(uint16_t type, uint16_t length) {
  std::array<uint8_t, kAdminHeaderSize> header{};
  std::memcpy(header.data(), kMagic, sizeof(kMagic));
  WriteLe16(header.data() + 4, type);
  WriteLe16(header.data() + 6, length);
  return header;
}

Result DecodeAdminHeader(const uint8_t* bytes, AdminHeader* header) {
  *header = AdminHeader{ReadLe16(bytes + 4), ReadLe16(bytes + 6)};
  if (std::memcmp(bytes, kMagic, sizeof(kMagic)) != 0) return Broken("not the magic");
  if (header->type < kAdminQuery || header->type > kAdminVoteKick) return Broken("no such type");
  if (header->length > kAdminMaxLength) return Broken("too long");
  return Result::Ok();
}

std::vector<uint8_t> EncodeQuery(uint16_t kind) {
  std::vector<uint8_t> message = Message(kAdminQuery, kQuerySize, kQuerySize);
  WriteLe16(message.data() + kAdminHeaderSize, kind);  // the reserved u16 stays 0
  return message;
}

std::vector<uint8_t> EncodeRegister(uint64_t communityId) {
  std::vector<uint8_t> message = Message(kAdminRegister, kRegisterSize, kRegisterSize);
  WriteLe64(message.data() + kAdminHeaderSize, communityId);
  return message;
}

std::vector<uint8_t> EncodeVoteKick(const VoteKickRequest& request) {
  std::vector<uint8_t> message = Message(kAdminVoteKick, kVoteKickSize, kVoteKickSize);
  uint8_t* payload = message.data() + kAdminHeaderSize;
  WriteLe32(payload, request.key);  // the reserved u32 stays 0
  WriteLe64(payload + 8, request.voterId);
  WriteLe64(payload + 16, request.targetId);
  return message;
}

Result ReceiveAdminRequest(SocketHandle socket, const Deadline& deadline, AdminRequest* request) {
  AdminHeader header;
  if (Result received = ReceiveHeader(socket, deadline, &header); !received.ok()) return received;
  uint8_t payload[kVoteKickSize];  // the longest request
  auto read = [&](std::size_t size) { return ReceiveExactlyBefore(socket, deadline, payload, size); };
  switch (header.type) {
    case kAdminQuery:  // 4 bytes whatever the length says
      if (Result received = read(kQuerySize); !received.ok()) return received;
      *request = DecodeQuery(payload);
      return Result::Ok();
    case kAdminRegister:
      if (header.length != kRegisterSize) return Broken("a Register is 8 bytes");
      if (Result received = read(kRegisterSize); !received.ok()) return received;
      *request = DecodeRegister(payload);
      return Result::Ok();
    case kAdminVoteKick:
      if (header.length != kVoteKickSize) return Broken("a VoteKick is 24 bytes");
      if (Result received = read(kVoteKickSize); !received.ok()) return received;
      *request = DecodeVoteKick(payload);
      return Result::Ok();
    default:
      return Broken("an answer's type sent to the host");
  }
}

std::vector<uint8_t> EncodePingReply() { return Message(kAdminQueryReply, 0, 0); }

Result ReceivePingReply(SocketHandle socket, const Deadline& deadline) {
  AdminHeader header;
  if (Result received = ReceiveHeader(socket, deadline, &header); !received.ok()) return received;
  return header.type == kAdminQueryReply ? Result::Ok() : OtherAnswer("not a QueryReply");
}

std::vector<uint8_t> EncodeRegisterReply(uint32_t key) {
  std::vector<uint8_t> message = Message(kAdminRegister, kRegisterReplySize, kRegisterReplySize);
  WriteLe32(message.data() + kAdminHeaderSize, key);
  return message;
}

Result ReceiveRegisterReply(SocketHandle socket, const Deadline& deadline, uint32_t* key) {
  AdminHeader header;
  if (Result received = ReceiveHeader(socket, deadline, &header); !received.ok()) return received;
  if (header.type == kAdminTextReply) {
    uint8_t text[kAdminMaxLength];
    (void)ReceiveExactlyBefore(socket, deadline, text, header.length);  // dropped, arrived or not
    return Result::Failure(Result::Kind::kRefused, 0, "the host refused the registration");
  }
  if (header.type != kAdminRegister) return OtherAnswer("not a RegisterReply");
  uint8_t payload[kRegisterReplySize];
  if (Result received = ReceiveExactlyBefore(socket, deadline, payload, sizeof(payload)); !received.ok()) {
    return received;
  }
  *key = ReadLe32(payload);
  return Result::Ok();
}

std::vector<uint8_t> EncodeTextReply(const std::string& text) {
  const std::size_t length = std::min<std::size_t>(text.size(), kAdminMaxLength);
  std::vector<uint8_t> message = Message(kAdminTextReply, static_cast<uint16_t>(length), length);
  std::memcpy(message.data() + kAdminHeaderSize, text.data(), length);
  return message;
}

Result ReceiveTextReply(SocketHandle socket, const Deadline& deadline, std::string* text) {
  AdminHeader header;
  if (Result received = ReceiveHeader(socket, deadline, &header); !received.ok()) return received;
  if (header.type != kAdminTextReply) return OtherAnswer("not a TextReply");
  char bytes[kAdminMaxLength];
  if (Result received = ReceiveExactlyBefore(socket, deadline, bytes, header.length); !received.ok()) return received;
  // Receivers keep one character less than a text may have: room for the
  // terminator a peer's buffer needs.
  text->assign(bytes, std::min<std::size_t>(header.length, kAdminMaxLength - 1));
  return Result::Ok();
}

std::vector<uint8_t> EncodeVoteCounts(const VoteTable& table) {
  const std::size_t count = std::min<std::size_t>(table.records.size(), MatchData::kMaxClientsLimit);
  std::vector<uint8_t> message = Message(kAdminQueryReply, 4, kVoteTableHeadSize + count * kVoteRecordSize);
  uint8_t* payload = message.data() + kAdminHeaderSize;
  WriteLe16(payload, kAdminVoteCounts);
  WriteLe16(payload + 2, static_cast<uint16_t>(count));
  WriteLe32(payload + 4, table.votesNeeded);
  for (std::size_t i = 0; i < count; ++i) {
    uint8_t* record = payload + kVoteTableHeadSize + i * kVoteRecordSize;  // padding stays zero
    WriteLe64(record, table.records[i].communityId);
    // One byte holds the votes: cut to its low 8 bits, 256 votes would read
    // as none, so a count it cannot hold is sent as the most it can.
    record[8] = static_cast<uint8_t>(std::min<uint32_t>(table.records[i].votes, 0xFF));
  }
  return message;
}

Result ReceiveVoteCounts(SocketHandle socket, const Deadline& deadline, VoteTable* table) {
  AdminHeader header;
  if (Result received = ReceiveHeader(socket, deadline, &header); !received.ok()) return received;
  if (header.type != kAdminQueryReply) return OtherAnswer("not a QueryReply");
  uint8_t head[kVoteTableHeadSize];
  if (Result received = ReceiveExactlyBefore(socket, deadline, head, 4); !received.ok()) return received;
  if (ReadLe16(head) != kAdminVoteCounts) return OtherAnswer("not a vote table");
  const uint16_t count = ReadLe16(head + 2);
  if (count > MatchData::kMaxClientsLimit) return Broken("more records than a match has slots");
  if (Result received = ReceiveExactlyBefore(socket, deadline, head + 4, 4); !received.ok()) return received;
  // Nothing is handed out until the whole table is in: a host that stops
  // halfway leaves the caller's last complete table standing.
  VoteTable read{ReadLe32(head + 4), {}};
  for (uint16_t i = 0; i < count; ++i) {
    uint8_t record[kVoteRecordSize];
    if (Result received = ReceiveExactlyBefore(socket, deadline, record, sizeof(record)); !received.ok()) {
      return received;
    }
    read.records.push_back({ReadLe64(record), record[8]});
  }
  *table = std::move(read);
  return Result::Ok();
}

}  // namespace palisard

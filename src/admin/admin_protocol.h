#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/socket.h"

namespace palisard {

// The protocol between copies of Palisard: one 8-byte header ("PLSD", u16
// type, u16 length) and a payload, little-endian on the wire whatever the
// host's byte order. Every message is built and read here; nothing is sent
// by casting a struct.
enum AdminType : uint16_t {
  kAdminQuery = 1,
  kAdminQueryReply = 2,
  kAdminTextReply = 3,
  kAdminRegister = 4,  // RegisterReply in the other direction
  kAdminVoteKick = 5,
};

enum AdminQueryKind : uint16_t { kAdminPing = 0, kAdminVoteCounts = 1 };

inline constexpr std::size_t kAdminHeaderSize = 8;
inline constexpr uint16_t kAdminMaxLength = 512;
// A vote table never holds more records than the game has slots.
inline constexpr uint16_t kAdminMaxRecords = 1024;
inline constexpr std::size_t kVoteRecordSize = 16;

struct AdminHeader {
  uint16_t type = 0;
  uint16_t length = 0;
};

struct VoteKickRequest {
  uint32_t key = 0;
  uint64_t voterId = 0;
  uint64_t targetId = 0;
};

struct VoteCount {
  uint64_t communityId = 0;
  uint8_t votes = 0;
};

std::array<uint8_t, kAdminHeaderSize> EncodeAdminHeader(uint16_t type, uint16_t length);
// The header, when it passes the acceptance rule: the magic, a type from 1
// to 5 and a length of at most 512.
std::optional<AdminHeader> DecodeAdminHeader(const uint8_t* bytes);

std::vector<uint8_t> EncodeQuery(uint16_t kind);
std::vector<uint8_t> EncodePingReply();
std::vector<uint8_t> EncodeRegister(uint64_t communityId);
std::vector<uint8_t> EncodeRegisterReply(uint32_t key);
std::vector<uint8_t> EncodeVoteKick(const VoteKickRequest& request);
VoteKickRequest DecodeVoteKick(const uint8_t* payload);
// A text answer: at most 512 characters are sent.
std::vector<uint8_t> EncodeTextReply(const std::string& text);
// The vote table: its header's length counts only the first 4 payload bytes.
std::vector<uint8_t> EncodeVoteCounts(uint32_t votesNeeded, const std::vector<VoteCount>& records);

// Reads a header before `deadline` and checks it; nothing when the peer
// sent no acceptable one in time.
std::optional<AdminHeader> ReceiveAdminHeader(SocketHandle socket, const Deadline& deadline);

}  // namespace palisard

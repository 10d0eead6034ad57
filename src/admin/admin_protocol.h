#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "common/result.h"
#include "net/socket.h"

namespace palisard {

// The protocol between copies of Palisard: one 8-byte header ("PLSD", u16
// type, u16 length) and a payload, little-endian on the wire whatever the
// host's byte order. Every message's layout (its type, length and fields)
// is written and read here alone, each reader beside its writer; nothing
// is sent by casting a struct.
//
// The receivers fail with kInvalid for bytes that break the protocol (a
// header that fails the acceptance rule, a length that does not fit the
// type), kConflict for a well-formed answer of another type or kind than
// the one awaited, and with the socket's failure (kClosed, kTimedOut) when
// the bytes did not come.
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

struct AdminHeader {
  uint16_t type = 0;
  uint16_t length = 0;
};

std::array<uint8_t, kAdminHeaderSize> EncodeAdminHeader(uint16_t type, uint16_t length);
// The header, when it passes the acceptance rule: the magic, a type from 1
// to 5 and a length of at most 512; kInvalid otherwise.
Result DecodeAdminHeader(const uint8_t* bytes, AdminHeader* header);

// The requests, from a client to the host.
struct QueryRequest {
  uint16_t kind = kAdminPing;
};
struct RegisterRequest {
  uint64_t communityId = 0;
};
struct VoteKickRequest {
  uint32_t key = 0;
  uint64_t voterId = 0;
  uint64_t targetId = 0;
};
using AdminRequest = std::variant<QueryRequest, RegisterRequest, VoteKickRequest>;

std::vector<uint8_t> EncodeQuery(uint16_t kind);
std::vector<uint8_t> EncodeRegister(uint64_t communityId);
std::vector<uint8_t> EncodeVoteKick(const VoteKickRequest& request);
// Reads one request before `deadline`: the header, then the payload its
// type needs (a Query's 4 bytes whatever its length says, a Register only
// with length 8, a VoteKick only with length 24). kInvalid for anything
// else: it gets no answer.
Result ReceiveAdminRequest(SocketHandle socket, const Deadline& deadline, AdminRequest* request);

// The answers, from the host to a client. Each receiver reads before
// `deadline` exactly the bytes its answer has.
std::vector<uint8_t> EncodePingReply();
// Ok when the host answered with a QueryReply: its service runs there.
Result ReceivePingReply(SocketHandle socket, const Deadline& deadline);

std::vector<uint8_t> EncodeRegisterReply(uint32_t key);
// Ok with the host's key; kRefused when the host answered with its refusal
// text (read and dropped).
Result ReceiveRegisterReply(SocketHandle socket, const Deadline& deadline, uint32_t* key);

// A text answer: at most 512 characters are sent.
std::vector<uint8_t> EncodeTextReply(const std::string& text);
// Ok with the text, of which at most 511 characters are kept.
Result ReceiveTextReply(SocketHandle socket, const Deadline& deadline, std::string* text);

struct VoteCount {
  uint64_t communityId = 0;  // 0: an empty slot
  uint32_t votes = 0;
};
struct VoteTable {
  uint32_t votesNeeded = 0;
  std::vector<VoteCount> records;  // one per slot of the host, slot 0 first
};
// The vote table: its header's length counts only the first 4 payload
// bytes.
std::vector<uint8_t> EncodeVoteCounts(const VoteTable& table);
// The whole table, or a failure and nothing: kConflict for an answer of
// another kind, kInvalid for more records than a match has slots.
Result ReceiveVoteCounts(SocketHandle socket, const Deadline& deadline, VoteTable* table);

}  // namespace palisard

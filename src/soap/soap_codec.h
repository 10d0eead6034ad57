#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace palisard {

// One player's standing with the ban service.
struct BanAnswer {
  uint64_t communityId = 0;
  bool isBanned = false;
  uint32_t banScore = 0;
};

// The request documents, printed one node a line with four blanks of indent.
std::string AddInfractionDocument(uint64_t reporterId, uint64_t reportedId);
std::string GetBanListDocument(const std::vector<uint64_t>& ids);

// Answers are read by namespace: the elements looked for are those of the
// service namespace ("rosterhall") or of none, whatever their prefix or the
// envelope's; a SOAP fault is no answer.
//
// The first AddInfractionResult of an answer, or nothing when the answer has
// none (or it holds no text).
std::optional<bool> ParseAddInfractionResult(const std::string& body);
// Every complete BanStatus of an answer, in document order; elements that
// lack a child or its text are skipped.
std::vector<BanAnswer> ParseBanStatuses(const std::string& body);

// Text conversions as a classic-locale stream reads them: leading blanks
// skipped, reading stops at the first character that does not fit.
bool ParseBool(const std::string& text);  // "true" only; anything else false
uint64_t ParseDecimalU64(const std::string& text);
uint32_t ParseDecimalU32(const std::string& text);

}  // namespace palisard

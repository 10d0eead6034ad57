#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace palisard {

// The ban contract's namespace, and SOAP 1.1's envelope namespace.
inline constexpr char kServiceNamespace[] = "rosterhall";
inline constexpr char kEnvelopeNamespace[] = "http://schemas.xmlsoap.org/soap/envelope/";
// The path both operations are posted to, and the query that asks it for
// the WSDL (in any case, as the path).
inline constexpr char kContractPath[] = "/banservices/GetBanList.asmx";
inline constexpr char kDescriptionQuery[] = "WSDL";

// The contract's two operations.
enum class SoapOperation { kGetBanList, kAddInfraction };

// The operation's element name, "GetBanList" or "AddInfraction".
std::string_view OperationName(SoapOperation operation);
// The SOAPAction that names the operation: "rosterhall/GetBanList".
std::string SoapAction(SoapOperation operation);
// The operation a SOAPAction header value names, quoted or not; nothing for
// any other value.
std::optional<SoapOperation> OperationOfAction(std::string_view header);

// One player's standing with the ban service.
struct BanAnswer {
  uint64_t communityId = 0;
  bool isBanned = false;
  uint32_t banScore = 0;
};

// ---- The client's side: requests out, answers in.

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

// ---- The service's side: requests in, answers out.

// A GetBanList may ask for at most this many ids.
inline constexpr std::size_t kMaxAskedIds = 1024;

// A request as the service reads it.
struct ServiceRequest {
  SoapOperation operation = SoapOperation::kGetBanList;
  std::vector<uint64_t> ids;  // GetBanList: the ids asked, in order, without 0 and repeats
  uint64_t reporterId = 0;    // AddInfraction
  uint64_t reportedId = 0;
};

// Who is at fault, as a SOAP 1.1 fault says it: the request (soap:Client),
// the service (soap:Server), an envelope of another SOAP version
// (soap:VersionMismatch), a header block the service must understand and
// does not (soap:MustUnderstand).
enum class FaultCode { kClient, kServer, kVersionMismatch, kMustUnderstand };

// Reads a request the way toolkits write them as well as ours: the
// Envelope and Body of SOAP 1.1 with any prefix, the operation and its
// children in the service namespace or in none, with any prefix or a
// default namespace. kInvalid, with a text for the fault and its code in
// `fault`, for anything else: a SOAP 1.2 envelope (kVersionMismatch); a
// header block marked mustUnderstand for this receiver, since the service
// knows none (kMustUnderstand); and as kClient XML that does not parse, a
// document type declaration (no DTD is read, no entity expanded), no known
// operation, a missing or malformed id, a nil CommunityIds, more than
// kMaxAskedIds ids.
Result ParseServiceRequest(const std::string& body, ServiceRequest* request, FaultCode* fault);

// The answers, with their elements unprefixed under a default namespace
// (xmlns="rosterhall"), so that a reader matching plain names finds them
// as well as one matching namespaces.
std::string GetBanListAnswer(const std::vector<BanAnswer>& statuses);
std::string AddInfractionAnswer(bool banned);
// A SOAP 1.1 fault, whatever the version of the request.
std::string FaultAnswer(FaultCode code, const std::string& text);

}  // namespace palisard

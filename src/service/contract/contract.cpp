#include "service/contract/contract.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>
#include <vector>

#include "common/ascii_text.h"
#include "service/contract/service_description.h"
#include "service/http/connection_caps.h"
#include "service/http/error_answers.h"

namespace palisard {
namespace {

constexpr char kXml[] = "text/xml; charset=utf-8";

HttpAnswer Xml(std::string body) { return {200, kXml, std::move(body), {}}; }

HttpAnswer Fault(FaultCode code, const std::string& text) { return {500, kXml, FaultAnswer(code, text), {}}; }

// The Host as the WSDL repeats it: a name or an address with its port, or
// "localhost" for anything else.
std::string AddressableHost(const std::string& host) {
  const bool plain = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
  });
  return plain ? host : "localhost";
}

Routed RouteCall(const HttpRequest& request, const ServeSettings& settings, SightingLog& sightings) {
  // SOAP 1.1: an empty SOAPAction ("") leaves the intent to the request itself.
  std::optional<SoapOperation> named;
  const std::string_view action = request.soapAction ? Trimmed(*request.soapAction) : std::string_view();
  if (!action.empty() && action != "\"\"") {
    named = OperationOfAction(action);
    if (!named) return Fault(FaultCode::kClient, "unknown SOAPAction " + std::string(action));
  }
  ServiceRequest call;
  FaultCode fault = FaultCode::kClient;
  Result read = ParseServiceRequest(request.body, &call, &fault);
  if (!read.ok()) return Fault(fault, read.text());
  if (named && *named != call.operation) {
    return Fault(FaultCode::kClient, "the SOAPAction names " + std::string(OperationName(*named)) + ", the body " +
                                         std::string(OperationName(call.operation)));
  }
  if (call.operation == SoapOperation::kGetBanList && call.ids.empty()) return Xml(GetBanListAnswer({}));
  // The host is the client, also behind a load balancer: by its address
  // (an IPv6 one by its /64) and its source network.
  return StoreCall([call = std::move(call), network = request.network, host = CapSource(request.client), &settings,
                    &sightings](Store& store, UnixTime now) {
    StoreReply reply = AnswerCall(store, call, network, settings, now);
    // The host's match, as evidence for the reports of its players.
    if (reply.store.ok() && call.operation == SoapOperation::kGetBanList) sightings.Add({host, network, now, call.ids});
    return reply;
  });
}

}  // namespace

bool IsContractPath(const std::string& path) { return EqualsIgnoringCase(path, kContractPath); }

Routed RouteContract(const HttpRequest& request, const ServeSettings& settings, SightingLog& sightings) {
  if (request.method == "POST") return RouteCall(request, settings, sightings);
  if (request.method == "GET" && EqualsIgnoringCase(QueryOf(request.target), kDescriptionQuery)) {
    return Xml(ServiceDescription(AddressableHost(request.host)));
  }
  return NotAllowed(Medium::kPlain, "POST, GET");
}

StoreReply AnswerCall(Store& store, const ServiceRequest& call, const std::string& network,
                      const ServeSettings& settings, UnixTime now) {
  if (call.operation == SoapOperation::kGetBanList) {
    std::vector<Standing> standings;
    const UnixTime scoreSince = now - std::chrono::duration_cast<std::chrono::seconds>(kScoreWindow).count();
    const Result found = store.Standings(call.ids, now, scoreSince, &standings);
    if (!found.ok()) return {StoreFault(), found};
    std::vector<BanAnswer> statuses;
    statuses.reserve(standings.size());
    for (const Standing& standing : standings) statuses.push_back({standing.playerId, standing.banned, standing.score});
    return {Xml(GetBanListAnswer(statuses)), Result::Ok()};
  }
  // The store refuses and counts reports with an id 0, of oneself, or over
  // a limit; each is answered false.
  ReportOutcome outcome;
  const Result recorded =
      store.RecordReport({call.reporterId, call.reportedId, network}, settings.reportLimits, now, &outcome);
  if (!recorded.ok()) return {StoreFault(), recorded};
  return {Xml(AddInfractionAnswer(outcome.verdict == ReportVerdict::kRecorded && outcome.reportedBanned)),
          Result::Ok()};
}

HttpAnswer StoreFault() { return Fault(FaultCode::kServer, Wording(Refusal::kCannotAnswerNow)); }

}  // namespace palisard

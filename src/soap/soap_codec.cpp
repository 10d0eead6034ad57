#include "soap/soap_codec.h"

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <locale>
#include <map>
#include <sstream>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/ascii_text.h"
#include "common/community_id.h"

namespace palisard {
namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n";
constexpr char kSoap12EnvelopeNamespace[] = "http://www.w3.org/2003/05/soap-envelope";
constexpr char kSchemaInstanceNamespace[] = "http://www.w3.org/2001/XMLSchema-instance";
// The actor of a header block meant for whoever receives the message next.
constexpr char kNextActor[] = "http://schemas.xmlsoap.org/soap/actor/next";

pugi::xml_node Envelope(pugi::xml_document& document) {
  pugi::xml_node envelope = document.append_child("soap:Envelope");
  envelope.append_attribute("xmlns:xsi") = kSchemaInstanceNamespace;
  envelope.append_attribute("xmlns:xsd") = "http://www.w3.org/2001/XMLSchema";
  envelope.append_attribute("xmlns:soap") = kEnvelopeNamespace;
  return envelope;
}

void AppendText(pugi::xml_node parent, const char* name, uint64_t value) {
  parent.append_child(name).text().set(std::to_string(value).c_str());
}

std::string Print(const pugi::xml_document& document) {
  std::ostringstream out;
  document.save(out, "    ", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
  return kDeclaration + out.str();
}

// The name NamespaceResolver gives an element of a namespace other than the
// service's: "{namespace}local".
std::string Qualified(std::string_view space, std::string_view local) {
  return "{" + std::string(space) + "}" + std::string(local);
}

// pugixml keeps names as written, and toolkits write their elements with
// prefixes of their choice ("tns:BanStatus", "ns1:BanStatus") or under a
// default namespace. This renames every element after the namespace its
// prefix is bound to by the xmlns attributes in scope: an element of the
// service namespace, or of none (as unprefixed answers carry them), gets its
// bare local name; one of another namespace gets "{namespace}local", which
// no name looked for matches; one whose prefix is bound nowhere keeps its
// name. Prefixed attributes are renamed "{namespace}local" likewise (an
// unprefixed one has no namespace). One pass, so a deep answer costs no
// more than a flat one.
class NamespaceResolver : public pugi::xml_tree_walker {
 public:
  bool fault = false;  // the answer holds a SOAP fault

  bool for_each(pugi::xml_node& node) override {
    if (node.type() != pugi::node_element) return true;
    // What earlier elements at this depth or deeper declared is out of scope.
    while (!declared_.empty() && declared_.back().first >= depth()) {
      bound_[declared_.back().second].pop_back();
      declared_.pop_back();
    }
    for (pugi::xml_attribute attribute : node.attributes()) {
      const std::string_view name = attribute.name();
      if (name != "xmlns" && name.rfind("xmlns:", 0) != 0) continue;
      const std::string prefix(name.substr(std::min<std::size_t>(name.size(), 6)));
      bound_[prefix].push_back(attribute.value());
      declared_.emplace_back(depth(), prefix);
    }
    for (pugi::xml_attribute attribute : node.attributes()) {
      const std::string_view name = attribute.name();
      const std::size_t colon = name.find(':');
      if (colon == std::string_view::npos || name.substr(0, colon) == "xmlns") continue;
      const char* space = Bound(std::string(name.substr(0, colon)));
      if (space != nullptr) attribute.set_name(Qualified(space, name.substr(colon + 1)).c_str());
    }
    const std::string_view name = node.name();
    const std::size_t colon = name.find(':');
    const std::string prefix(colon == std::string_view::npos ? std::string_view() : name.substr(0, colon));
    const std::string local(colon == std::string_view::npos ? name : name.substr(colon + 1));
    const char* bound = Bound(prefix);
    if (bound == nullptr && !prefix.empty()) return true;
    const std::string_view space = bound == nullptr ? std::string_view() : bound;
    if (space == kEnvelopeNamespace && local == "Fault") fault = true;
    const bool ours = space.empty() || space == kServiceNamespace;
    node.set_name(ours ? local.c_str() : Qualified(space, local).c_str());
    return true;
  }

 private:
  // The namespace `prefix` is bound to where the walk is, or null.
  const char* Bound(const std::string& prefix) const {
    const auto found = bound_.find(prefix);
    return found == bound_.end() || found->second.empty() ? nullptr : found->second.back();
  }

  std::map<std::string, std::vector<const char*>> bound_;  // prefix ("" the default) to namespaces, innermost last
  std::vector<std::pair<int, std::string>> declared_;      // depth of the declaring element, prefix
};

// The root element of `body` parsed as XML, its elements renamed after their
// namespaces; empty when it does not parse or is a SOAP fault, whose detail
// is no answer whatever it holds.
pugi::xml_node Root(pugi::xml_document& document, const std::string& body) {
  if (!document.load_buffer(body.data(), body.size())) return pugi::xml_node();
  NamespaceResolver resolver;
  document.traverse(resolver);
  if (resolver.fault) return pugi::xml_node();
  return document.document_element();
}

// The text of `node`'s first child, when that child is text.
std::optional<std::string> FirstChildText(pugi::xml_node node) {
  pugi::xml_node child = node.first_child();
  if (!child || (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata)) return std::nullopt;
  return std::string(child.value());
}

template <typename Number>
Number ParseDecimal(const std::string& text) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  Number value = 0;
  in >> value;
  return in.fail() ? 0 : value;
}

// An XML Schema boolean that is true: "true" or "1", blanks around allowed.
bool IsTrue(pugi::xml_attribute attribute) {
  const std::string_view value = Trimmed(attribute.value());
  return value == "true" || value == "1";
}

// A community id as a request writes it: XML blanks around it allowed.
std::optional<uint64_t> ParseRequestId(std::string_view text) { return ReadCommunityId(Trimmed(text)); }

// The id in the text of `operation`'s child `name`.
Result ReadId(pugi::xml_node operation, const char* name, uint64_t* id) {
  pugi::xml_node child = operation.child(name);
  if (!child) return Result::Invalid(std::string("no ") + name);
  std::optional<uint64_t> value = ParseRequestId(child.text().get());
  if (!value) return Result::Invalid(std::string("not a community id in ") + name);
  *id = *value;
  return Result::Ok();
}

// The ids of a GetBanList's CommunityIds (none when it has none), without
// 0 and repeats. The contract does not let it be nil: a toolkit that sends
// it so has not been given the ids it was meant to ask about.
Result ReadAskedIds(pugi::xml_node operation, std::vector<uint64_t>* ids) {
  const pugi::xml_node list = operation.child("CommunityIds");
  if (IsTrue(list.attribute(Qualified(kSchemaInstanceNamespace, "nil").c_str()))) {
    return Result::Invalid("CommunityIds is nil: list the ids in it, or leave it out");
  }
  std::size_t asked = 0;
  std::unordered_set<uint64_t> seen;
  for (pugi::xml_node entry : list.children()) {
    if (entry.type() != pugi::node_element) continue;
    if (std::string_view(entry.name()) != "string") return Result::Invalid("CommunityIds holds only string elements");
    if (++asked > kMaxAskedIds) return Result::Invalid("more than " + std::to_string(kMaxAskedIds) + " ids");
    std::optional<uint64_t> id = ParseRequestId(entry.text().get());
    if (!id) return Result::Invalid("not a community id in CommunityIds");
    if (*id != 0 && seen.insert(*id).second) ids->push_back(*id);
  }
  return Result::Ok();
}

// The service knows no header block, so one it must understand refuses the
// request: mustUnderstand true, for the last receiver (no actor) or the next.
Result CheckHeaderBlocks(pugi::xml_node envelope) {
  const std::string mustUnderstand = Qualified(kEnvelopeNamespace, "mustUnderstand");
  const std::string actor = Qualified(kEnvelopeNamespace, "actor");
  for (pugi::xml_node block : envelope.child(Qualified(kEnvelopeNamespace, "Header").c_str()).children()) {
    if (block.type() != pugi::node_element || !IsTrue(block.attribute(mustUnderstand.c_str()))) continue;
    const pugi::xml_attribute target = block.attribute(actor.c_str());
    if (target && std::string_view(target.value()) != kNextActor) continue;  // for another receiver
    return Result::Invalid(std::string("the header block ") + block.name() +
                           " must be understood, and this service knows no header blocks");
  }
  return Result::Ok();
}

pugi::xml_node FirstElement(pugi::xml_node parent) {
  for (pugi::xml_node child : parent.children()) {
    if (child.type() == pugi::node_element) return child;
  }
  return pugi::xml_node();
}

// An answer's envelope with the response element of the service namespace.
pugi::xml_node Response(pugi::xml_document& document, const char* name) {
  pugi::xml_node response = Envelope(document).append_child("soap:Body").append_child(name);
  response.append_attribute("xmlns") = kServiceNamespace;
  return response;
}

const char* FaultCodeName(FaultCode code) {
  switch (code) {
    case FaultCode::kClient:
      return "soap:Client";
    case FaultCode::kVersionMismatch:
      return "soap:VersionMismatch";
    case FaultCode::kMustUnderstand:
      return "soap:MustUnderstand";
    case FaultCode::kServer:
      break;
  }
  return "soap:Server";
}

}  // namespace

std::string_view OperationName(SoapOperation operation) {
  return operation == SoapOperation::kGetBanList ? "GetBanList" : "AddInfraction";
}

std::string SoapAction(SoapOperation operation) {
  return std::string(kServiceNamespace) + "/" + std::string(OperationName(operation));
}

std::optional<SoapOperation> OperationOfAction(std::string_view header) {
  if (header.size() >= 2 && header.front() == '"' && header.back() == '"') header = header.substr(1, header.size() - 2);
  for (SoapOperation operation : {SoapOperation::kGetBanList, SoapOperation::kAddInfraction}) {
    if (header == SoapAction(operation)) return operation;
  }
  return std::nullopt;
}

std::string AddInfractionDocument(uint64_t reporterId, uint64_t reportedId) {
  pugi::xml_document document;
  pugi::xml_node envelope = Envelope(document);
  envelope.append_attribute("xmlns") = kServiceNamespace;
  pugi::xml_node operation = envelope.append_child("soap:Body").append_child("AddInfraction");
  AppendText(operation, "ReporterCommunityId", reporterId);
  AppendText(operation, "ReportedCommunityId", reportedId);
  return Print(document);
}

std::string GetBanListDocument(const std::vector<uint64_t>& ids) {
  pugi::xml_document document;
  pugi::xml_node operation = Envelope(document).append_child("soap:Body").append_child("GetBanList");
  operation.append_attribute("xmlns") = kServiceNamespace;
  pugi::xml_node list = operation.append_child("CommunityIds");
  for (uint64_t id : ids) {
    if (id != 0) AppendText(list, "string", id);
  }
  return Print(document);
}

std::optional<bool> ParseAddInfractionResult(const std::string& body) {
  pugi::xml_document document;
  pugi::xml_node root = Root(document, body);
  if (!root) return std::nullopt;
  for (const pugi::xpath_node& found : root.select_nodes("//AddInfractionResult")) {
    if (!found.node()) continue;
    std::optional<std::string> text = FirstChildText(found.node());
    if (!text) return std::nullopt;
    return ParseBool(*text);
  }
  return std::nullopt;
}

std::vector<BanAnswer> ParseBanStatuses(const std::string& body) {
  std::vector<BanAnswer> answers;
  pugi::xml_document document;
  pugi::xml_node root = Root(document, body);
  if (!root) return answers;
  for (const pugi::xpath_node& found : root.select_nodes("//BanStatus")) {
    pugi::xml_node status = found.node();
    if (!status) continue;
    std::optional<std::string> id = FirstChildText(status.child("CommunityId"));
    std::optional<std::string> banned = FirstChildText(status.child("IsBanned"));
    std::optional<std::string> score = FirstChildText(status.child("BanScore"));
    if (!id || !banned || !score) continue;
    answers.push_back({ParseDecimalU64(*id), ParseBool(*banned), ParseDecimalU32(*score)});
  }
  return answers;
}

bool ParseBool(const std::string& text) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  bool value = false;
  in >> std::boolalpha >> value;
  return !in.fail() && value;
}

uint64_t ParseDecimalU64(const std::string& text) { return ParseDecimal<uint64_t>(text); }
uint32_t ParseDecimalU32(const std::string& text) { return ParseDecimal<uint32_t>(text); }

Result ParseServiceRequest(const std::string& body, ServiceRequest* request, FaultCode* fault) {
  *fault = FaultCode::kClient;
  pugi::xml_document document;
  // Parsing keeps a document type declaration only so that it can be
  // refused; pugixml never reads a DTD or expands an entity it declares.
  const pugi::xml_parse_result parsed =
      document.load_buffer(body.data(), body.size(), pugi::parse_default | pugi::parse_doctype);
  if (!parsed) return Result::Invalid(std::string("not well-formed XML: ") + parsed.description());
  for (pugi::xml_node node : document.children()) {
    if (node.type() == pugi::node_doctype) return Result::Invalid("a document type declaration is not accepted");
  }
  NamespaceResolver resolver;
  document.traverse(resolver);
  pugi::xml_node envelope = document.document_element();
  if (envelope.name() == Qualified(kSoap12EnvelopeNamespace, "Envelope")) {
    *fault = FaultCode::kVersionMismatch;
    return Result::Invalid(std::string("a SOAP 1.2 envelope: this service speaks SOAP 1.1 (") + kEnvelopeNamespace +
                           ")");
  }
  if (envelope.name() != Qualified(kEnvelopeNamespace, "Envelope")) return Result::Invalid("not a SOAP 1.1 envelope");
  Result understood = CheckHeaderBlocks(envelope);
  if (!understood.ok()) {
    *fault = FaultCode::kMustUnderstand;
    return understood;
  }
  pugi::xml_node operation = FirstElement(envelope.child(Qualified(kEnvelopeNamespace, "Body").c_str()));
  *request = ServiceRequest();
  const std::string_view name = operation.name();
  if (name == OperationName(SoapOperation::kGetBanList)) {
    request->operation = SoapOperation::kGetBanList;
    return ReadAskedIds(operation, &request->ids);
  }
  if (name == OperationName(SoapOperation::kAddInfraction)) {
    request->operation = SoapOperation::kAddInfraction;
    Result reporter = ReadId(operation, "ReporterCommunityId", &request->reporterId);
    if (!reporter.ok()) return reporter;
    return ReadId(operation, "ReportedCommunityId", &request->reportedId);
  }
  return Result::Invalid("no GetBanList or AddInfraction in the SOAP body");
}

std::string GetBanListAnswer(const std::vector<BanAnswer>& statuses) {
  if (statuses.empty()) {
    pugi::xml_document document;
    Response(document, "GetBanListResponse").append_child("GetBanListResult");
    return Print(document);
  }
  // Every hosting copy asks every few seconds: the document around the
  // statuses is printed once, and each status written into it as the
  // printer would indent it.
  static const std::pair<std::string, std::string> frame = [] {
    pugi::xml_document document;
    Response(document, "GetBanListResponse").append_child("GetBanListResult").text().set("@");
    const std::string printed = Print(document);
    const std::size_t at = printed.find('@');
    return std::pair(printed.substr(0, at), printed.substr(at + 1));
  }();
  constexpr std::string_view kIndent = "\n                ";
  std::string answer = frame.first;
  answer.reserve(frame.first.size() + frame.second.size() + statuses.size() * 180);
  for (const BanAnswer& status : statuses) {
    answer.append(kIndent).append("<BanStatus>");
    answer.append(kIndent)
        .append("    <CommunityId>")
        .append(std::to_string(status.communityId))
        .append("</CommunityId>");
    answer.append(kIndent).append("    <IsBanned>").append(status.isBanned ? "true" : "false").append("</IsBanned>");
    answer.append(kIndent).append("    <BanScore>").append(std::to_string(status.banScore)).append("</BanScore>");
    answer.append(kIndent).append("</BanStatus>");
  }
  return answer.append(kIndent.substr(0, kIndent.size() - 4)).append(frame.second);
}

std::string AddInfractionAnswer(bool banned) {
  pugi::xml_document document;
  Response(document, "AddInfractionResponse").append_child("AddInfractionResult").text().set(banned ? "true" : "false");
  return Print(document);
}

std::string FaultAnswer(FaultCode code, const std::string& text) {
  pugi::xml_document document;
  pugi::xml_node fault = Envelope(document).append_child("soap:Body").append_child("soap:Fault");
  fault.append_child("faultcode").text().set(FaultCodeName(code));
  fault.append_child("faultstring").text().set(text.c_str());
  return Print(document);
}

}  // namespace palisard

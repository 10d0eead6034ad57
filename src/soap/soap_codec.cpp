#include "soap/soap_codec.h"

#include <pugixml.hpp>

#include <algorithm>
#include <locale>
#include <map>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

namespace palisard {
namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n";

pugi::xml_node Envelope(pugi::xml_document& document) {
  pugi::xml_node envelope = document.append_child("soap:Envelope");
  envelope.append_attribute("xmlns:xsi") = "http://www.w3.org/2001/XMLSchema-instance";
  envelope.append_attribute("xmlns:xsd") = "http://www.w3.org/2001/XMLSchema";
  envelope.append_attribute("xmlns:soap") = "http://schemas.xmlsoap.org/soap/envelope/";
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

constexpr std::string_view kServiceNamespace = "rosterhall";
constexpr std::string_view kEnvelopeNamespace = "http://schemas.xmlsoap.org/soap/envelope/";

// pugixml keeps names as written, and toolkits write the answer's elements
// with prefixes of their choice ("tns:BanStatus", "ns1:BanStatus") or under a
// default namespace. This renames every element after the namespace its
// prefix is bound to by the xmlns attributes in scope: an element of the
// service namespace, or of none (as unprefixed answers carry them), gets its
// bare local name; one of another namespace gets "{namespace}local", which
// no name looked for matches; one whose prefix is bound nowhere keeps its
// name. One pass, so a deep answer costs no more than a flat one.
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
    const std::string_view name = node.name();
    const std::size_t colon = name.find(':');
    const std::string prefix(colon == std::string_view::npos ? std::string_view() : name.substr(0, colon));
    const std::string local(colon == std::string_view::npos ? name : name.substr(colon + 1));
    const auto found = bound_.find(prefix);
    const bool isBound = found != bound_.end() && !found->second.empty();
    if (!isBound && !prefix.empty()) return true;
    const std::string_view space = isBound ? found->second.back() : std::string_view();
    if (space == kEnvelopeNamespace && local == "Fault") fault = true;
    const bool ours = space.empty() || space == kServiceNamespace;
    node.set_name(ours ? local.c_str() : ("{" + std::string(space) + "}" + local).c_str());
    return true;
  }

 private:
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

}  // namespace

std::string AddInfractionDocument(uint64_t reporterId, uint64_t reportedId) {
  pugi::xml_document document;
  pugi::xml_node envelope = Envelope(document);
  envelope.append_attribute("xmlns") = "rosterhall";
  pugi::xml_node operation = envelope.append_child("soap:Body").append_child("AddInfraction");
  AppendText(operation, "ReporterCommunityId", reporterId);
  AppendText(operation, "ReportedCommunityId", reportedId);
  return Print(document);
}

std::string GetBanListDocument(const std::vector<uint64_t>& ids) {
  pugi::xml_document document;
  pugi::xml_node operation = Envelope(document).append_child("soap:Body").append_child("GetBanList");
  operation.append_attribute("xmlns") = "rosterhall";
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

}  // namespace palisard

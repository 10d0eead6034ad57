#include "service/contract/service_description.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <set>
#include <string>

namespace palisard {
namespace {

// Every name the document refers to is one it defines: a toolkit that
// meets a dangling reference builds no client at all.
TEST(ServiceDescriptionTest, EveryReferenceResolves) {
  pugi::xml_document wsdl;
  ASSERT_TRUE(wsdl.load_string(ServiceDescription("bans.example").c_str()));
  const pugi::xml_node root = wsdl.document_element();
  ASSERT_STREQ(root.attribute("xmlns:tns").value(), root.attribute("targetNamespace").value());
  auto names = [&](const char* path, const std::string& prefix) {
    std::set<std::string> found;
    for (const pugi::xpath_node& node : root.select_nodes(path))
      found.insert(prefix + node.node().attribute("name").value());
    return found;
  };
  const std::pair<const char*, std::set<std::string>> kinds[] = {
      {"wsdl:message/wsdl:part/@element", names("wsdl:types/s:schema/s:element", "tns:")},
      {"wsdl:types//s:element/@type[starts-with(., 'tns:')]", names("wsdl:types/s:schema/s:complexType", "tns:")},
      {"wsdl:portType/wsdl:operation/*/@message", names("wsdl:message", "tns:")},
      {"wsdl:binding/@type", names("wsdl:portType", "tns:")},
      {"wsdl:binding/wsdl:operation/@name", names("wsdl:portType/wsdl:operation", "")},
      {"wsdl:service/wsdl:port/@binding", names("wsdl:binding", "tns:")},
  };
  for (const auto& [references, defined] : kinds) {
    EXPECT_FALSE(root.select_nodes(references).empty()) << references;
    for (const pugi::xpath_node& reference : root.select_nodes(references)) {
      EXPECT_EQ(defined.count(reference.attribute().value()), 1u) << references << " " << reference.attribute().value();
    }
  }
}

}  // namespace
}  // namespace palisard

#include "service/contract/service_description.h"

#include <pugixml.hpp>

#include <chrono>
#include <sstream>
#include <string_view>

#include "service/settings/serve_settings.h"
#include "soap/soap_codec.h"

namespace palisard {
namespace {

// "@NS@" stands for the service namespace, "@GetBanList@" and
// "@AddInfraction@" for their SOAPActions, "@DAYS@" for the score's window,
// "@MAXIDS@" for the most ids one GetBanList may ask.
constexpr std::string_view kTemplate = R"(<wsdl:definitions xmlns:wsdl="http://schemas.xmlsoap.org/wsdl/"
    xmlns:soap="http://schemas.xmlsoap.org/wsdl/soap/" xmlns:s="http://www.w3.org/2001/XMLSchema"
    xmlns:tns="@NS@" targetNamespace="@NS@">
  <wsdl:documentation>A community's ban service: the ban status of players, and reports of players.</wsdl:documentation>
  <wsdl:types>
    <s:schema elementFormDefault="qualified" targetNamespace="@NS@">
      <s:element name="GetBanList">
        <s:complexType>
          <s:sequence>
            <s:element minOccurs="0" maxOccurs="1" name="CommunityIds" type="tns:ArrayOfString"/>
          </s:sequence>
        </s:complexType>
      </s:element>
      <s:complexType name="ArrayOfString">
        <s:sequence>
          <s:element minOccurs="0" maxOccurs="@MAXIDS@" name="string" type="s:string"/>
        </s:sequence>
      </s:complexType>
      <s:element name="GetBanListResponse">
        <s:complexType>
          <s:sequence>
            <s:element minOccurs="0" maxOccurs="1" name="GetBanListResult" type="tns:ArrayOfBanStatus"/>
          </s:sequence>
        </s:complexType>
      </s:element>
      <s:complexType name="ArrayOfBanStatus">
        <s:sequence>
          <s:element minOccurs="0" maxOccurs="unbounded" name="BanStatus" type="tns:BanStatus"/>
        </s:sequence>
      </s:complexType>
      <s:complexType name="BanStatus">
        <s:sequence>
          <s:element minOccurs="1" maxOccurs="1" name="CommunityId" type="s:unsignedLong"/>
          <s:element minOccurs="1" maxOccurs="1" name="IsBanned" type="s:boolean">
            <s:annotation>
              <s:documentation>True while a ban of the player is in force.</s:documentation>
            </s:annotation>
          </s:element>
          <s:element minOccurs="1" maxOccurs="1" name="BanScore" type="s:unsignedInt">
            <s:annotation>
              <s:documentation>The number of distinct source networks (an IPv4 /24, an IPv6 /64) that reported the player in the last @DAYS@ days.</s:documentation>
            </s:annotation>
          </s:element>
        </s:sequence>
      </s:complexType>
      <s:element name="AddInfraction">
        <s:complexType>
          <s:sequence>
            <s:element minOccurs="1" maxOccurs="1" name="ReporterCommunityId" type="s:unsignedLong"/>
            <s:element minOccurs="1" maxOccurs="1" name="ReportedCommunityId" type="s:unsignedLong"/>
          </s:sequence>
        </s:complexType>
      </s:element>
      <s:element name="AddInfractionResponse">
        <s:complexType>
          <s:sequence>
            <s:element minOccurs="1" maxOccurs="1" name="AddInfractionResult" type="s:boolean"/>
          </s:sequence>
        </s:complexType>
      </s:element>
    </s:schema>
  </wsdl:types>
  <wsdl:message name="GetBanListSoapIn">
    <wsdl:part name="parameters" element="tns:GetBanList"/>
  </wsdl:message>
  <wsdl:message name="GetBanListSoapOut">
    <wsdl:part name="parameters" element="tns:GetBanListResponse"/>
  </wsdl:message>
  <wsdl:message name="AddInfractionSoapIn">
    <wsdl:part name="parameters" element="tns:AddInfraction"/>
  </wsdl:message>
  <wsdl:message name="AddInfractionSoapOut">
    <wsdl:part name="parameters" element="tns:AddInfractionResponse"/>
  </wsdl:message>
  <wsdl:portType name="BanServiceSoap">
    <wsdl:operation name="GetBanList">
      <wsdl:documentation>One BanStatus for each id asked (at most @MAXIDS@), in the order asked; ids 0 and repeats are left out. BanScore is the number of distinct source networks that reported the player in the last @DAYS@ days.</wsdl:documentation>
      <wsdl:input message="tns:GetBanListSoapIn"/>
      <wsdl:output message="tns:GetBanListSoapOut"/>
    </wsdl:operation>
    <wsdl:operation name="AddInfraction">
      <wsdl:documentation>Reports a player; true when the reported player now stands banned. Reports with an id 0, of oneself, or over the service's limits are answered false and not recorded.</wsdl:documentation>
      <wsdl:input message="tns:AddInfractionSoapIn"/>
      <wsdl:output message="tns:AddInfractionSoapOut"/>
    </wsdl:operation>
  </wsdl:portType>
  <wsdl:binding name="BanServiceSoap" type="tns:BanServiceSoap">
    <soap:binding transport="http://schemas.xmlsoap.org/soap/http"/>
    <wsdl:operation name="GetBanList">
      <soap:operation soapAction="@GetBanList@" style="document"/>
      <wsdl:input><soap:body use="literal"/></wsdl:input>
      <wsdl:output><soap:body use="literal"/></wsdl:output>
    </wsdl:operation>
    <wsdl:operation name="AddInfraction">
      <soap:operation soapAction="@AddInfraction@" style="document"/>
      <wsdl:input><soap:body use="literal"/></wsdl:input>
      <wsdl:output><soap:body use="literal"/></wsdl:output>
    </wsdl:operation>
  </wsdl:binding>
  <wsdl:service name="BanService">
    <wsdl:port name="BanServiceSoap" binding="tns:BanServiceSoap">
      <soap:address location=""/>
    </wsdl:port>
  </wsdl:service>
</wsdl:definitions>
)";

void ReplaceAll(std::string& text, std::string_view placeholder, const std::string& value) {
  for (std::size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
}

}  // namespace

std::string ServiceDescription(const std::string& host) {
  std::string text(kTemplate);
  ReplaceAll(text, "@NS@", kServiceNamespace);
  ReplaceAll(text, "@GetBanList@", SoapAction(SoapOperation::kGetBanList));
  ReplaceAll(text, "@AddInfraction@", SoapAction(SoapOperation::kAddInfraction));
  ReplaceAll(text, "@MAXIDS@", std::to_string(kMaxAskedIds));
  ReplaceAll(text, "@DAYS@", std::to_string(std::chrono::duration_cast<std::chrono::hours>(kScoreWindow).count() / 24));
  pugi::xml_document document;
  document.load_buffer(text.data(), text.size());
  // The address goes in as an attribute value, so the printer escapes
  // whatever the Host holds.
  document.select_node("//soap:address").node().attribute("location") = ("http://" + host + kContractPath).c_str();
  std::ostringstream out;
  document.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  return out.str();
}

}  // namespace palisard

#include "soap/soap_codec.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <sstream>
#include <string>
#include <vector>

namespace palisard {
namespace {

TEST(SoapMessagesTest, AddInfractionDocumentIsPrintedExactly) {
  EXPECT_EQ(AddInfractionDocument(76561197960287930ULL, 76561197960265728ULL),
            "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
            "<soap:Envelope xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
            "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns=\"rosterhall\">\n"
            "    <soap:Body>\n"
            "        <AddInfraction>\n"
            "            <ReporterCommunityId>76561197960287930</ReporterCommunityId>\n"
            "            <ReportedCommunityId>76561197960265728</ReportedCommunityId>\n"
            "        </AddInfraction>\n"
            "    </soap:Body>\n"
            "</soap:Envelope>\n");
}

TEST(SoapMessagesTest, GetBanListDocumentListsTheNonzeroIds) {
  const std::string head =
      "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
      "<soap:Envelope xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
      "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">\n"
      "    <soap:Body>\n"
      "        <GetBanList xmlns=\"rosterhall\">\n";
  const std::string tail =
      "        </GetBanList>\n"
      "    </soap:Body>\n"
      "</soap:Envelope>\n";
  EXPECT_EQ(GetBanListDocument({18446744073709551615ULL, 0, 5}),
            head +
                "            <CommunityIds>\n"
                "                <string>18446744073709551615</string>\n"
                "                <string>5</string>\n"
                "            </CommunityIds>\n" +
                tail);
  EXPECT_EQ(GetBanListDocument({0}), head + "            <CommunityIds />\n" + tail);
}

std::string Envelope(const std::string& inner) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
         "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>" +
         inner + "</soap:Body></soap:Envelope>";
}

TEST(SoapMessagesTest, AddInfractionResultTakesTheFirstElementAndOnlyTrue) {
  struct Case {
    std::string inner;
    std::optional<bool> result;
  };
  const Case cases[] = {
      {"<R xmlns=\"rosterhall\"><AddInfractionResult>true</AddInfractionResult></R>", true},
      {"<AddInfractionResult>True</AddInfractionResult>", false},
      {"<AddInfractionResult>1</AddInfractionResult>", false},
      {"<AddInfractionResult> true</AddInfractionResult>", true},
      {"<AddInfractionResult>false</AddInfractionResult><AddInfractionResult>true</AddInfractionResult>", false},
      {"<AddInfractionResult></AddInfractionResult>", std::nullopt},  // no text: skipped
      {"<Other>true</Other>", std::nullopt},
      // By namespace, whatever the prefix; a binding holds only within its element.
      {"<ns1:AddInfractionResult xmlns:ns1=\"rosterhall\">true</ns1:AddInfractionResult>", true},
      {"<AddInfractionResult xmlns=\"other\">true</AddInfractionResult>", std::nullopt},
      {"<p:AddInfractionResult xmlns:p=\"other\">true</p:AddInfractionResult><AddInfractionResult>false"
       "</AddInfractionResult>",
       false},
      {"<R xmlns:p=\"rosterhall\"/><p:AddInfractionResult>true</p:AddInfractionResult>", std::nullopt},
      {"<soap:Fault><detail><AddInfractionResult>true</AddInfractionResult></detail></soap:Fault>", std::nullopt},
      {"<Fault xmlns=\"rosterhall\"/><AddInfractionResult>true</AddInfractionResult>", true},  // no SOAP fault
  };
  for (const Case& c : cases) EXPECT_EQ(ParseAddInfractionResult(Envelope(c.inner)), c.result) << c.inner;
  EXPECT_EQ(ParseAddInfractionResult("not xml <"), std::nullopt);
  EXPECT_EQ(ParseAddInfractionResult(""), std::nullopt);
}

TEST(SoapMessagesTest, BanStatusesInAnyChildOrder) {
  std::vector<BanAnswer> answers = ParseBanStatuses(Envelope(
      "<GetBanListResponse><GetBanListResult>"
      "<BanStatus><IsBanned>true</IsBanned><BanScore>7</BanScore><CommunityId>5</CommunityId></BanStatus>"
      "<BanStatus><CommunityId>x12</CommunityId><IsBanned>false</IsBanned><BanScore>1</BanScore><Extra/></BanStatus>"
      "<BanStatus><CommunityId>9</CommunityId><IsBanned>true</IsBanned></BanStatus>"
      "<BanStatus><CommunityId>10</CommunityId><IsBanned /><BanScore>1</BanScore></BanStatus>"
      "</GetBanListResult></GetBanListResponse>"));
  ASSERT_EQ(answers.size(), 2u) << "statuses missing a child or its text are skipped";
  EXPECT_EQ(answers[0].communityId, 5u);
  EXPECT_TRUE(answers[0].isBanned);
  EXPECT_EQ(answers[0].banScore, 7u);
  EXPECT_EQ(answers[1].communityId, 0u) << "an id that does not convert reads as 0";
  EXPECT_FALSE(answers[1].isBanned);
}

TEST(SoapMessagesTest, BanStatusesAsPhpWritesThem) {
  // A child of another namespace is not taken.
  std::vector<BanAnswer> answers = ParseBanStatuses(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/"
      "soap/envelope/\" xmlns:ns1=\"rosterhall\"><SOAP-ENV:Body><ns1:GetBanListResponse><ns1:GetBanListResult>"
      "<ns1:BanStatus><x:CommunityId xmlns:x=\"other\">9</x:CommunityId><ns1:CommunityId>5</ns1:CommunityId>"
      "<ns1:IsBanned>true</ns1:IsBanned><ns1:BanScore>7</ns1:BanScore></ns1:BanStatus>"
      "</ns1:GetBanListResult></ns1:GetBanListResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>");
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].communityId, 5u);
  EXPECT_TRUE(answers[0].isBanned);
}

TEST(SoapMessagesTest, SoapActionNamesTheOperationQuotedOrNot) {
  EXPECT_EQ(SoapAction(SoapOperation::kAddInfraction), "rosterhall/AddInfraction");
  EXPECT_EQ(OperationOfAction("\"rosterhall/GetBanList\""), SoapOperation::kGetBanList);
  EXPECT_EQ(OperationOfAction("rosterhall/AddInfraction"), SoapOperation::kAddInfraction);
  EXPECT_EQ(OperationOfAction("\"rosterhall/Other\""), std::nullopt);
  EXPECT_EQ(OperationOfAction("\""), std::nullopt);
}

std::string EnvelopeAs(const std::string& prefix, const std::string& inner, const std::string& header = "") {
  const std::string headers = header.empty() ? "" : "<" + prefix + ":Header>" + header + "</" + prefix + ":Header>";
  return "<" + prefix + ":Envelope xmlns:" + prefix + "=\"http://schemas.xmlsoap.org/soap/envelope/\">" + headers +
         "<" + prefix + ":Body>" + inner + "</" + prefix + ":Body></" + prefix + ":Envelope>";
}

std::vector<uint64_t> OneTo(std::size_t count) {
  std::vector<uint64_t> ids;
  for (std::size_t i = 1; i <= count; ++i) ids.push_back(i);
  return ids;
}

std::string AskedIds(std::size_t count) {
  std::string ids;
  for (uint64_t id : OneTo(count)) ids += "<string>" + std::to_string(id) + "</string>";
  return EnvelopeAs("soap", "<GetBanList xmlns=\"rosterhall\"><CommunityIds>" + ids + "</CommunityIds></GetBanList>");
}

TEST(SoapMessagesTest, ServiceReadsRequestsOfEveryWriter) {
  struct Case {
    const char* what;
    std::string body;
    SoapOperation operation;
    std::vector<uint64_t> ids;
    uint64_t reporter = 0;
    uint64_t reported = 0;
  };
  const auto getBanList = SoapOperation::kGetBanList;
  const auto addInfraction = SoapOperation::kAddInfraction;
  const Case cases[] = {
      {"ours, 0 and repeats left out",
       GetBanListDocument({5, 0, 18446744073709551615ULL, 5}),
       getBanList,
       {5, 18446744073709551615ULL}},
      {"ours", AddInfractionDocument(7, 8), addInfraction, {}, 7, 8},
      {"zeep",
       "<soap-env:Envelope xmlns:soap-env=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap-env:Body>"
       "<ns0:GetBanList xmlns:ns0=\"rosterhall\"><ns0:CommunityIds><ns0:string>76561197960287930</ns0:string>"
       "<ns0:string>0</ns0:string></ns0:CommunityIds></ns0:GetBanList></soap-env:Body></soap-env:Envelope>",
       getBanList,
       {76561197960287930ULL}},
      {"SOAP-ENV with a header, tns: bound on the envelope",
       "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:tns=\"rosterhall\">"
       "<SOAP-ENV:Header/><SOAP-ENV:Body><tns:AddInfraction><tns:ReporterCommunityId> 3 </tns:ReporterCommunityId>"
       "<tns:ReportedCommunityId>4</tns:ReportedCommunityId></tns:AddInfraction></SOAP-ENV:Body></SOAP-ENV:Envelope>",
       addInfraction,
       {},
       3,
       4},
      {"no CommunityIds", EnvelopeAs("e", "<GetBanList/>"), getBanList, {}},
      {"header blocks not for this receiver to understand; CommunityIds not nil",
       EnvelopeAs(
           "e",
           "<GetBanList xmlns=\"rosterhall\"><CommunityIds xmlns:i=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "i:nil=\"false\" nil=\"true\"><string>5</string></CommunityIds></GetBanList>",
           "<t:Trace xmlns:t=\"urn:t\" e:mustUnderstand=\"0\"/><t:Hop xmlns:t=\"urn:t\" e:mustUnderstand=\"1\" "
           "e:actor=\"urn:proxy\"/><Plain mustUnderstand=\"1\"/>"),
       getBanList,
       {5}},
      {"as many ids as allowed", AskedIds(kMaxAskedIds), getBanList, OneTo(kMaxAskedIds)},
  };
  for (const Case& c : cases) {
    ServiceRequest request;
    FaultCode fault = FaultCode::kServer;
    Result result = ParseServiceRequest(c.body, &request, &fault);
    ASSERT_TRUE(result.ok()) << c.what << ": " << result.text();
    EXPECT_EQ(request.operation, c.operation) << c.what;
    EXPECT_EQ(request.ids, c.ids) << c.what;
    EXPECT_EQ(request.reporterId, c.reporter) << c.what;
    EXPECT_EQ(request.reportedId, c.reported) << c.what;
  }
}

TEST(SoapMessagesTest, ServiceRefusesMalformedRequests) {
  const std::string ids = "<GetBanList xmlns=\"rosterhall\"><CommunityIds><string>";
  const std::string tail = "</string></CommunityIds></GetBanList>";
  const std::string cases[] = {
      "",
      "<soap:Envelope",
      // A document type declaration, with or without an entity, is refused before anything is read.
      "<?xml version=\"1.0\"?><!DOCTYPE e [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" +
          EnvelopeAs("soap", ids + "&x;" + tail),
      "<!DOCTYPE e>" + EnvelopeAs("soap", "<GetBanList/>"),
      "<Envelope><Body><GetBanList/></Body></Envelope>",  // no SOAP namespace
      EnvelopeAs("soap", "<GetBanList xmlns=\"other\"/>"),
      EnvelopeAs("soap", "<p:GetBanList/>"),  // a prefix bound nowhere
      EnvelopeAs("soap", "<Other/>"),
      EnvelopeAs("soap", ids + "x5" + tail),
      EnvelopeAs("soap", ids + "-1" + tail),
      EnvelopeAs("soap", ids + "18446744073709551616" + tail),
      EnvelopeAs("soap", ids + tail),
      EnvelopeAs("soap", "<GetBanList><CommunityIds><long>5</long></CommunityIds></GetBanList>"),
      EnvelopeAs("soap", "<AddInfraction><ReporterCommunityId>1</ReporterCommunityId></AddInfraction>"),
      AskedIds(kMaxAskedIds + 1),
  };
  for (const std::string& body : cases) {
    ServiceRequest request;
    FaultCode fault = FaultCode::kServer;
    Result result = ParseServiceRequest(body, &request, &fault);
    EXPECT_EQ(result.kind(), Result::Kind::kInvalid) << body.substr(0, 200);
    EXPECT_FALSE(result.text().empty()) << body.substr(0, 200);
    EXPECT_EQ(fault, FaultCode::kClient) << body.substr(0, 200);
  }
  // Faults a toolkit tells apart, and what their texts must name.
  const std::string getBanList = "<GetBanList xmlns=\"rosterhall\"/>";
  const struct {
    std::string body;
    FaultCode fault;
    const char* named;
  } named[] = {
      {"<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body>" + getBanList +
           "</e:Body></e:Envelope>",
       FaultCode::kVersionMismatch, "SOAP 1.2"},
      {EnvelopeAs("e", getBanList, "<t:Trace xmlns:t=\"urn:t\" e:mustUnderstand=\"1\"/>"), FaultCode::kMustUnderstand,
       "{urn:t}Trace"},
      {EnvelopeAs("e", getBanList,
                  "<Hop e:mustUnderstand=\" true\" e:actor=\"http://schemas.xmlsoap.org/soap/actor/next\"/>"),
       FaultCode::kMustUnderstand, "Hop"},
      {EnvelopeAs("e",
                  "<GetBanList xmlns=\"rosterhall\"><CommunityIds xmlns:xsi=\"http://www.w3.org/2001/"
                  "XMLSchema-instance\" xsi:nil=\"1\"/></GetBanList>"),
       FaultCode::kClient, "CommunityIds"},
  };
  for (const auto& c : named) {
    ServiceRequest request;
    FaultCode fault = FaultCode::kServer;
    Result result = ParseServiceRequest(c.body, &request, &fault);
    EXPECT_EQ(fault, c.fault) << c.body;
    EXPECT_NE(result.text().find(c.named), std::string::npos) << result.text();
  }
}

// How the client read answers before it knew namespaces: descendants by
// their literal name, children by theirs.
std::vector<std::string> PlainNameTexts(const std::string& answer, const char* path, const char* child) {
  pugi::xml_document document;
  EXPECT_TRUE(document.load_string(answer.c_str()));
  std::vector<std::string> texts;
  for (const pugi::xpath_node& found : document.document_element().select_nodes(path)) {
    pugi::xml_node node = child == nullptr ? found.node() : found.node().child(child);
    texts.push_back(node.text().get());
  }
  return texts;
}

TEST(SoapMessagesTest, AnswersReadByTodaysClientAndByPlainNames) {
  const std::vector<BanAnswer> statuses = {{18446744073709551615ULL, true, 4294967295u}, {5, false, 0}};
  const std::string list = GetBanListAnswer(statuses);
  const std::vector<BanAnswer> read = ParseBanStatuses(list);
  ASSERT_EQ(read.size(), 2u);
  for (std::size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].communityId, statuses[i].communityId);
    EXPECT_EQ(read[i].isBanned, statuses[i].isBanned);
    EXPECT_EQ(read[i].banScore, statuses[i].banScore);
  }
  EXPECT_EQ(PlainNameTexts(list, "//BanStatus", "CommunityId"),
            (std::vector<std::string>{"18446744073709551615", "5"}));
  EXPECT_EQ(PlainNameTexts(list, "//BanStatus", "IsBanned"), (std::vector<std::string>{"true", "false"}));
  EXPECT_EQ(PlainNameTexts(list, "//BanStatus", "BanScore"), (std::vector<std::string>{"4294967295", "0"}));
  EXPECT_TRUE(ParseBanStatuses(GetBanListAnswer({})).empty());
  // Written as the document printer writes every other answer.
  pugi::xml_document reread;
  ASSERT_TRUE(reread.load_string(list.c_str()));
  std::ostringstream printed;
  reread.save(printed, "    ", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
  EXPECT_EQ(printed.str(), list.substr(list.find('\n') + 1));
  // And no text but the values: stray text would sit beside elements.
  for (const pugi::xpath_node& text : reread.select_nodes("//text()[../*]")) ADD_FAILURE() << text.node().value();

  for (bool banned : {true, false}) {
    EXPECT_EQ(ParseAddInfractionResult(AddInfractionAnswer(banned)), banned);
    EXPECT_EQ(PlainNameTexts(AddInfractionAnswer(banned), "//AddInfractionResult", nullptr),
              std::vector<std::string>{banned ? "true" : "false"});
  }

  const std::string fault = FaultAnswer(FaultCode::kClient, "a <bad> & odd request");
  EXPECT_EQ(ParseAddInfractionResult(fault), std::nullopt);
  EXPECT_EQ(PlainNameTexts(fault, "//faultstring", nullptr), std::vector<std::string>{"a <bad> & odd request"});
  for (const auto& [code, name] :
       {std::pair(FaultCode::kClient, "soap:Client"), std::pair(FaultCode::kMustUnderstand, "soap:MustUnderstand")}) {
    EXPECT_EQ(PlainNameTexts(FaultAnswer(code, ""), "//faultcode", nullptr), std::vector<std::string>{name});
  }
  // SOAP's own Fault: its prefix is bound on the envelope to SOAP's namespace.
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(fault.c_str()));
  const std::string name = document.document_element().first_child().first_child().name();
  EXPECT_EQ(name.substr(name.find(':') + 1), "Fault");
  EXPECT_STREQ(document.document_element().attribute(("xmlns:" + name.substr(0, name.find(':'))).c_str()).value(),
               kEnvelopeNamespace);
}

TEST(SoapMessagesTest, TextConversions) {
  EXPECT_TRUE(ParseBool("true"));
  EXPECT_TRUE(ParseBool("  truex"));
  EXPECT_FALSE(ParseBool("TRUE"));
  EXPECT_FALSE(ParseBool(""));
  EXPECT_EQ(ParseDecimalU64(" 76561197960265728abc"), 76561197960265728ULL);
  EXPECT_EQ(ParseDecimalU64("abc"), 0u);
  EXPECT_EQ(ParseDecimalU32("4294967295"), 4294967295u);
  EXPECT_EQ(ParseDecimalU32("4294967296"), 0u);
}

}  // namespace
}  // namespace palisard

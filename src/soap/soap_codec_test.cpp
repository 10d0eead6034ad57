#include "soap/soap_codec.h"

#include <gtest/gtest.h>

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

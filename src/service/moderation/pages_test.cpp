#include "service/moderation/pages.h"

#include <gtest/gtest.h>

#include <regex>

#include "service/moderation/front_page.h"
#include "service/moderation/site_map.h"

namespace palisard {
namespace {

constexpr UnixTime kNow = 1714564800;

// Every page, built with markup in every text a player, a moderator or a
// database can bring: none of it may reach the page as markup. The pages
// carry no script of their own, so "</script>" and "<img" never belong.
TEST(ModerationPagesTest, NoTextFromOutsideBecomesMarkup) {
  const std::string hostile = "<img src=x onerror=alert(1)></script>\"'&";
  const Viewer viewer{hostile, true, hostile};
  Ban ban{1, hostile, 7, hostile, hostile, kNow, kNow + 60, BanLift{hostile, kNow, hostile}};
  Ban inForce{2, hostile, 7, hostile, hostile, kNow, std::nullopt, std::nullopt};
  Case closed{3, 7, kNow, CaseClosing{hostile, hostile, kNow, hostile}, 1, 1, 1, kNow, kNow};
  Report report{4, 8, 7, hostile, kNow, 3};
  Appeal appeal{5, 7, hostile, hostile, kNow, CaseClosing{hostile, hostile, kNow, hostile}};
  PlayerFile file{{inForce, ban}, {closed}, {report}, {report}, {appeal}};
  const Mute mute{6, MuteKind::kNetwork, hostile, hostile, hostile, kNow};
  const std::vector<Moderator> accounts = {{1, hostile, ModeratorRole::kAdmin, hostile, kNow}};
  const std::vector<AuditEntry> audit = {{1, kNow, hostile, hostile, hostile, 7, hostile, hostile}};
  const WebhookEndpoint endpoint{1, hostile, WebhookFormat::kStandard, {hostile}, hostile, hostile, kNow, kNow, hostile,
                                 kNow};
  const std::vector<WebhookShown> webhooks = {
      {endpoint, {{hostile, hostile, 1, 500, hostile, kNow, false, std::nullopt}}}};

  const std::string pages[] = {
      SignInPage(hostile),
      QueuePage(viewer, hostile, {{closed, {{report, 1}, {report, 0}}, file}},
                {0, 10, 12, {{appeal, inForce}, {appeal, std::nullopt}}}),
      BansPage(viewer, hostile, {ban, inForce}, {mute}, 7, true, kNow),
      PlayerPage(viewer, hostile, 7, file, kNow),
      AuditPage(viewer, {hostile, 7, hostile}, audit),
      AccountsPage(viewer, hostile, accounts),
      WebhooksPage(viewer, hostile, webhooks, hostile),
      MessagePage(viewer, hostile, hostile),
      PublicPlayerPage(7, inForce, false, hostile),
  };
  for (const std::string& page : pages) {
    EXPECT_EQ(page.find("<img"), std::string::npos) << page;
    EXPECT_EQ(page.find("<script"), std::string::npos) << page;
    EXPECT_EQ(page.find("</script>"), std::string::npos) << page;
    EXPECT_EQ(page.find("=\"x\" onerror"), std::string::npos) << page;
    EXPECT_NE(page.find("&lt;img src=x onerror=alert(1)&gt;&lt;/script&gt;&quot;'&amp;"), std::string::npos) << page;
  }
  // What people wrote is isolated, and no direction control closes the
  // isolation early or turns the page's own words around.
  const std::string turning =
      "\xE2\x81\xA9\xE2\x80\xAE"
      "aimbot";
  const Ban turned{1, "r", 7, turning, turning, kNow, std::nullopt, BanLift{turning, kNow, turning}};
  const std::string bans = BansPage(viewer, "", {turned}, {}, std::nullopt, true, kNow);
  EXPECT_EQ(bans.find("\xE2\x81\xA9"), std::string::npos);
  EXPECT_EQ(bans.find("\xE2\x80\xAE"), std::string::npos);
  EXPECT_NE(bans.find("(lifted <time>2024-05-01T12:00:00Z</time> by <bdi>aimbot</bdi>: <bdi>aimbot</bdi>)"),
            std::string::npos)
      << bans;
  // Reporters stay off the public page.
  EXPECT_EQ(pages[8].find("/player/8"), std::string::npos);
  EXPECT_NE(pages[1].find("by hosts on 1 other network<"), std::string::npos);
  EXPECT_NE(pages[1].find("not by a host on another network"), std::string::npos);
  // Appeals come after the cases, a screen of them with the way to the rest.
  EXPECT_LT(pages[1].find("id=\"case-3\""), pages[1].find("12 open appeals, newest first: 1 to 2"));
  EXPECT_NE(pages[1].find("href=\"/queue?appeals=1#appeals\">Older appeals"), std::string::npos);
  EXPECT_EQ(pages[1].find("Newer appeals"), std::string::npos);
}

// Each form of the pages goes to a page of the site map with its method,
// and names only that page's fields, each input bounded as the map says.
TEST(ModerationPagesTest, FormsAreThePagesOfTheSiteMap) {
  const Viewer viewer{"mia", true, std::string(64, 'a')};
  const Ban ban{1, "r", 7, "aimbot", "mia", kNow, std::nullopt, std::nullopt};
  const Report report{4, 8, 7, "203.0.113.0/24", kNow, 3};
  const Case open{3, 7, kNow, std::nullopt, 1, 1, 1, kNow, kNow};
  const Appeal appeal{5, 7, "unfair", "203.0.113.0/24", kNow, std::nullopt};
  const PlayerFile file{{ban}, {open}, {report}, {}, {appeal}};
  WebhookEndpoint webhook;
  webhook.url = "https://x.example/";
  const std::pair<Port, std::string> pages[] = {
      {Port::kModeration, SignInPage("")},
      {Port::kModeration, QueuePage(viewer, "", {{open, {{report, 1}}, file}}, {0, 10, 1, {{appeal, ban}}})},
      {Port::kModeration, BansPage(viewer, "", {ban}, {{6, MuteKind::kNetwork, "x", "y", "mia", kNow}}, 7, true, kNow)},
      {Port::kModeration, PlayerPage(viewer, "", 7, file, kNow)},
      {Port::kModeration, AuditPage(viewer, {}, {})},
      {Port::kModeration, AccountsPage(viewer, "", {{1, "eve", ModeratorRole::kAdmin, "mia", kNow}})},
      {Port::kModeration, WebhooksPage(viewer, "", {{webhook, {}}}, "")},
      {Port::kPublic, PublicPlayerPage(7, ban, false, "")},
      {Port::kPublic, FrontPage().body},
  };
  const std::regex form("<form method=\"(get|post)\" action=\"([^\"?]*)\"[^>]*>(.*?)</form>");
  const std::regex input("<(?:input|textarea|select)[^>]* name=\"([^\"]*)\"([^>]*)>");
  std::size_t forms = 0;
  for (const auto& [port, page] : pages) {
    EXPECT_EQ(page.find("{{"), std::string::npos) << "a slot of its file left unfilled: " << page;
    for (std::sregex_iterator f(page.begin(), page.end(), form), end; f != end; ++f, ++forms) {
      const std::string method = (*f)[1] == "get" ? "GET" : "POST";
      const SitePage* target = MatchPage(port, method, (*f)[2].str()).page;
      ASSERT_NE(target, nullptr) << (*f)[0];
      const std::string inputs = (*f)[3];
      for (std::sregex_iterator i(inputs.begin(), inputs.end(), input); i != end; ++i) {
        const auto bound = std::find_if(target->fields.begin(), target->fields.end(),
                                        [&](const FormField& field) { return field.name == (*i)[1].str(); });
        ASSERT_NE(bound, target->fields.end()) << (*i)[0] << " in " << (*f)[0];
        const std::string maxlength = " maxlength=\"" + std::to_string(bound->Longest()) + "\"";
        const bool free = (*i)[0].str().find("hidden") != std::string::npos || (*i)[0].str().find("<select") == 0 ||
                          (*i)[0].str().find("checkbox") != std::string::npos;
        if (!free) {
          EXPECT_NE((*i)[2].str().find(maxlength), std::string::npos) << (*i)[0];
        }
      }
    }
  }
  EXPECT_EQ(forms, 25u);
}

}  // namespace
}  // namespace palisard

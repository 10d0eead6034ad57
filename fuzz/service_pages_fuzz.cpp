// What strangers send the moderation pages and the public pages: paths,
// Host and Origin, cookies, forwarded addresses and form fields, routed and
// answered against a real SQLite store that holds a moderator and his
// session. Whatever comes, every page carries its security headers, only a
// valid session and this site's own forms change anything, and nothing
// sent makes the store fail.
//
// Input: lines "METHOD", "TARGET", "HOST", "ORIGIN", "COOKIE",
// "X-FORWARDED-FOR", "m" (moderation port) or anything (public port), then
// the body. "SESSION" in the cookie and "CSRF" in the body stand for the
// moderator's session token and its form token.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "service/accounts/credentials.h"
#include "service/http/connection_caps.h"
#include "service/moderation/routes.h"
#include "service/public_port.h"
#include "service/values/source_network.h"

namespace palisard {
namespace {

constexpr UnixTime kStart = 1714564800;
const std::string kToken(64, 'a');

struct World {
  ServeSettings settings;
  SightingLog sightings;
  std::unique_ptr<Store> store;
  UnixTime now = kStart;

  World() {
    settings.moderationHosts = {"mod.example"};
    settings.trustedProxies = {"127.0.0.1"};
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("service-pages-fuzz-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string hash;
    const Actor cli{"cli:fuzz", "cli"};
    SignInAttempt attempt;
    if (!OpenStore((dir / "service.db").string(), &store).ok() ||
        !HashPassword("right password", HashCost::kTestOnly, &hash).ok() ||
        !store->AddModerator("mia", ModeratorRole::kAdmin, hash, cli, now).ok() ||
        !store->BeginSignIn("127.0.0.0/24", {}, {"mia", "127.0.0.1"}, now, &attempt).ok() ||
        !store->FinishSignIn(attempt, SessionTokenHash(kToken), now + 1000000000, {"mia", "127.0.0.1"}, now).ok() ||
        !store->AddBan({7, "aimbot", std::nullopt}, cli, now, nullptr).ok()) {
      __builtin_trap();
    }
  }
};

std::vector<std::string> Lines(const std::string& text, std::size_t count) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (lines.size() < count) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  lines.resize(count);
  lines.push_back(start <= text.size() ? text.substr(start) : "");
  return lines;
}

void Replace(std::string& text, const std::string& what, const std::string& with) {
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size()) {
    text.replace(at, what.size(), with);
  }
}

std::string Header(const HttpAnswer& answer, const std::string& name) {
  for (const auto& [key, value] : answer.headers) {
    if (key == name) return value;
  }
  return "";
}

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace
}  // namespace palisard

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace palisard;
  static World world;
  const std::vector<std::string> in = Lines(std::string(reinterpret_cast<const char*>(data), size), 7);
  HttpRequest request;
  request.method = in[0];
  request.target = in[1];
  request.host = in[2];
  request.origin = in[3];
  request.cookie = in[4];
  Replace(request.cookie, "SESSION", kToken);
  request.body = in[7];
  Replace(request.body, "CSRF", FormToken(kToken));
  request.peer = "127.0.0.1";
  request.client = ForwardedClient({in[5]}, request.peer);
  request.source = CapSource(request.client);
  request.network = SourceNetwork(request.client).value_or("");
  Check(!request.network.empty());
  const bool moderation = in[6] == "m";
  Routed routed =
      moderation ? RouteModeration(request, world.settings) : RoutePublic(request, world.settings, world.sightings);
  StoreReply reply;
  world.now += 7;
  if (auto* now = std::get_if<HttpAnswer>(&routed)) {
    reply.answer = *now;
  } else if (auto* signIn = std::get_if<SignInCall>(&routed)) {
    reply = signIn->call(*world.store, world.now);
  } else {
    reply = std::get<StoreCall>(routed)(*world.store, world.now);
  }
  // Nothing a stranger sends breaks the store.
  Check(reply.store.ok());
  const HttpAnswer& answer = reply.answer;
  Check(answer.status >= 100 && answer.status < 600);
  if (answer.contentType.rfind("text/html", 0) == 0) {
    Check(Header(answer, "Content-Security-Policy").find("default-src 'none'") != std::string::npos);
    Check(Header(answer, "Cache-Control") == "no-store");
    Check(answer.body.find("<script") == std::string::npos);
  }
  if (moderation) {
    const bool session = request.cookie.find(kToken) != std::string::npos;
    // Only the names the settings give; no page without the session.
    if (answer.status < 300 && request.target.rfind("/signin", 0) != 0) Check(session);
    if (request.host.empty()) Check(answer.status == 403);
  }
  return 0;
}

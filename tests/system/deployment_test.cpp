#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "helpers/network_namespace.h"
#include "helpers/temp_dir.h"
#include "soap/soap_codec.h"
#include "system/browser.h"
#include "system/eventually.h"
#include "system/nginx_process.h"
#include "system/service_process.h"

namespace palisard {
namespace {

using ::testing::HasSubstr;

constexpr const char* kPages = "https://mod.example.org:8443";
constexpr const char* kPublic = "http://bans.example.org";
constexpr const char* kPassword = "moderators own secret";
constexpr uint64_t kReporter = 76561198000000011;
constexpr uint64_t kCheater = 76561198000000012;

// The README's settings and proxy for a service on the open internet: the
// public port plain, the moderation pages with TLS on a port of their own,
// each on IPv6 as well.
constexpr const char* kSettings = "moderation-host = mod.example.org\ntrusted-proxy = 127.0.0.1\n";
std::string NginxServers(const TempDir& keys) {
  const std::string dir = keys.path().string();
  return R"(server { listen 80; listen [::]:80; location / { proxy_pass http://127.0.0.1:8081;
    proxy_set_header Host $http_host; proxy_set_header X-Forwarded-For $proxy_add_x_forwarded_for; } }
  server { listen 8443 ssl; listen [::]:8443 ssl; server_name mod.example.org;
    ssl_certificate )" +
         dir + "/cert.pem; ssl_certificate_key " + dir + R"(/key.pem;
    location / { proxy_pass http://127.0.0.1:8080; proxy_set_header Host $http_host;
      proxy_set_header X-Forwarded-For $proxy_add_x_forwarded_for; proxy_set_header X-Forwarded-Proto $scheme; } })";
}

// A machine on a network of its own, linked to the service's machine, that
// reaches the service by the names the proxy serves.
class Client {
 public:
  // `prefix`: its link's network, "10.1.0." or "fd00:1::"; the service's
  // end is 1, the client 2.
  Client(const NetworkNamespace& service, const std::string& prefix) : address_(prefix + "2") {
    LinkNamespaces(service, prefix + "1", network_, address_);
    serviceAt_ = prefix.find(':') == std::string::npos ? prefix + "1" : "[" + prefix + "1]";
  }

  const NetworkNamespace& network() const { return network_; }
  const std::string& address() const { return address_; }
  const std::string& serviceAt() const { return serviceAt_; }
  // The arguments quote in double quotes: the command runs in single quotes.
  std::string Curl(const std::string& arguments) const {
    return network_.Capture("curl -sk -m 5 --resolve mod.example.org:8443:" + serviceAt_ +
                            " --resolve bans.example.org:80:" + serviceAt_ + " " + arguments);
  }
  // The status of each sign-in, one for each of `times`, apart by blanks.
  std::string SignIn(const std::string& password, int times = 1) const {
    std::string urls;
    for (int i = 0; i < times; ++i) urls += std::string(" -o /dev/null ") + kPages + "/signin";
    return Curl(std::string("-w \"%{http_code} \" -H \"Origin: ") + kPages +
                "\" --data \"name=mod&password=" + password + "\"" + urls);
  }

 private:
  NetworkNamespace network_;
  std::string address_;
  std::string serviceAt_;
};

// A SOAP request of the players' copies, through the public proxy.
void Ask(const Client& client, const TempDir& dir, SoapOperation operation, const std::string& document) {
  const std::string file = dir.Write(std::string(OperationName(operation)) + ".xml", document).string();
  client.Curl("-o /dev/null -H \"Content-Type: text/xml; charset=utf-8\" -H \"SOAPAction: " + SoapAction(operation) +
              "\" --data-binary @" + file + " " + kPublic + "/banservices/GetBanList.asmx");
}

// The service behind the README's proxy, asked by a moderator at home
// (IPv4, in headless Chromium), a stranger (IPv6), a reporting player
// (IPv4) and a hosting player (IPv6), each on a network of his own.
TEST(DeploymentTest, BehindTheProxyEachClientIsHimself) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root for network namespaces";
  NetworkNamespace machine;
  const Client home(machine, "10.1.0."), stranger(machine, "fd00:2::"), reporter(machine, "10.3.0."),
      host(machine, "fd00:4::");
  TempDir files;
  ASSERT_EQ(machine.Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
                        "-subj /CN=mod.example.org -addext subjectAltName=DNS:mod.example.org -keyout " +
                        files.path().string() + "/key.pem -out " + files.path().string() + "/cert.pem 2>/dev/null"),
            0);
  ServiceProcess service(
      machine, "127.0.0.1:8081", "",
      {"--config", files.Write("palisard-service.conf", kSettings).string(), "--moderation-listen", "127.0.0.1:8080"});
  ASSERT_TRUE(service.ready()) << service.process().Output();
  std::unique_ptr<ChildProcess> add =
      StartServiceCommand(service.database(), {"moderator", "add", "mod", "--insecure-test-hash"});
  add->Write(std::string(kPassword) + "\n");
  add->CloseInput();
  ASSERT_EQ(add->WaitForExit(), 0) << add->Output();
  NginxProcess nginx(machine, NginxServers(files));
  ASSERT_TRUE(Eventually([&] { return home.Curl(std::string("-o /dev/null -w %{http_code} ") + kPages) == "303"; }))
      << nginx.process().Output();

  // The moderator signs in at home: his network is his account's from now on.
  Browser browser(home.network(),
                  "--ignore-certificate-errors --host-resolver-rules=\"MAP mod.example.org " + home.serviceAt() + "\"");
  browser.Open(std::string(kPages) + "/signin");
  ASSERT_TRUE(browser.Follow("const f = document.forms[0]; f.name.value = 'mod'; f.password.value = '" +
                             std::string(kPassword) + "'; f.submit()"));
  ASSERT_TRUE(browser.WaitFor("location.pathname == '/queue'")) << browser.Run("document.body.innerText");

  // A stranger's wrong passwords lock the account for strangers, whatever
  // password they try next, and not for the moderator at home, whose cookie
  // is for TLS only.
  std::string lockedOut;
  for (int i = 0; i < 20; ++i) lockedOut += i < 5 ? "401 " : "429 ";
  EXPECT_EQ(stranger.SignIn("guess", 20), lockedOut);
  const std::string signedIn = home.Curl(std::string("-D - -o /dev/null -H \"Origin: ") + kPages +
                                         "\" --data \"name=mod&password=" + kPassword + "\" " + kPages + "/signin");
  EXPECT_THAT(signedIn, HasSubstr(" 303"));
  EXPECT_THAT(signedIn, HasSubstr("; HttpOnly; SameSite=Strict; Secure"));
  EXPECT_EQ(reporter.SignIn(kPassword), "429 ");

  // A report, and a host on another network that named both players: the
  // queue shows that evidence, and the report's network.
  Ask(reporter, files, SoapOperation::kAddInfraction, AddInfractionDocument(kReporter, kCheater));
  Ask(host, files, SoapOperation::kGetBanList, GetBanListDocument({kReporter, kCheater}));
  const std::string seen = "[...document.querySelectorAll('tr')].some(r => r.innerText.includes('" +
                           std::to_string(kReporter) +
                           "') && r.innerText.includes('10.3.0.0/24') && r.innerText.includes('by hosts on 1 other "
                           "network'))";
  EXPECT_TRUE(Eventually([&] {  // the sightings are written every few seconds
    browser.Open(std::string(kPages) + "/queue");
    return browser.WaitFor(seen, std::chrono::milliseconds(100));
  })) << browser.Run("document.body.innerText");

  // The page's own forms work through the proxy on its port.
  ASSERT_TRUE(
      browser.Follow("const f = document.querySelector('form[action=\"/ban\"]'); f.reason.value = 'Wallhack'; "
                     "f.duration.value = '1d'; f.submit()"));
  EXPECT_TRUE(browser.WaitFor("location.href == '" + std::string(kPages) + "/queue?done=ban'"))
      << browser.Run("location.href + document.body.innerText");
  EXPECT_THAT(host.Curl(std::string("-H \"Origin: ") + kPublic + "\" --data appeal=innocent " + kPublic + "/player/" +
                        std::to_string(kCheater)),
              HasSubstr("Your appeal is received"));

  // The audit names each client's network, not the proxy's address.
  browser.Open(std::string(kPages) + "/audit");
  const std::string rows = browser.Run(
      "[...document.querySelectorAll('tr')].map(r => [...r.cells].slice(1, 4).map(c => c.innerText).join(' '))"
      ".join('|') + '|'");
  std::size_t from = 0;
  for (const std::string step : {"public page fd00:4::/64 appeal", "mod 10.1.0.2 ban", "mod 10.1.0.2 sign-in"}) {
    const std::size_t found = rows.find("|" + step + "|", from);
    EXPECT_NE(found, std::string::npos) << step << " in " << rows;
    from = found == std::string::npos ? from : found;
  }
}

}  // namespace
}  // namespace palisard

// A stand-in for the ban service and the version file, for demos:
//   ban-service-sim [PORT] [BANNED_ID...]
// Answers every AddInfraction with true, every GetBanList with the asked ids
// (the listed ones banned), and "/version.txt" with this version.
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>

#include "common/version.h"
#include "net/http_message.h"
#include "net/socket.h"

namespace {

using palisard::HttpMessage;

std::string Answer(const std::string& body, const char* type) {
  return std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string BanList(const std::string& request, const std::set<std::string>& banned) {
  std::string statuses;
  for (std::size_t at = request.find("<string>"); at != std::string::npos; at = request.find("<string>", at + 1)) {
    std::size_t end = request.find("</string>", at);
    std::string id = request.substr(at + 8, end - at - 8);
    statuses += "<BanStatus><CommunityId>" + id + "</CommunityId><IsBanned>" + (banned.count(id) ? "true" : "false") +
                "</IsBanned><BanScore>0</BanScore></BanStatus>";
  }
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
         "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body><GetBanListResponse "
         "xmlns=\"rosterhall\"><GetBanListResult>" +
         statuses + "</GetBanListResult></GetBanListResponse></soap:Body></soap:Envelope>";
}

void Serve(palisard::Socket client, const std::set<std::string>& banned) {
  if (!palisard::SetIoTimeout(client.get(), std::chrono::seconds(5)).ok()) return;
  HttpMessage request(1024 * 1024);
  char piece[4096];
  std::size_t got = 0;
  while (request.status == HttpMessage::kIncomplete &&
         palisard::ReceiveBytes(client.get(), piece, sizeof(piece), &got).ok()) {
    request.Feed(piece, got);
  }
  if (request.status != HttpMessage::kComplete) return;
  const std::string body = request.Body() != nullptr ? request.Body() : "";
  std::string answer;
  if (std::string(request.Target()) == "/version.txt") {
    answer = Answer(std::string(palisard::kProgramVersion) + "\r\nhttps://example.org/palisard/", "text/plain");
  } else if (body.find("<AddInfraction>") != std::string::npos) {
    std::printf("report received\n");
    answer = Answer(
        "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
        "<soap:Body><AddInfractionResponse xmlns=\"rosterhall\"><AddInfractionResult>true"
        "</AddInfractionResult></AddInfractionResponse></soap:Body></soap:Envelope>",
        "text/xml; charset=utf-8");
  } else {
    std::printf("ban list asked\n");
    answer = Answer(BanList(body, banned), "text/xml; charset=utf-8");
  }
  std::fflush(stdout);
  (void)palisard::SendAll(client.get(), answer.data(), answer.size());  // a client gone has nothing to read
  palisard::ShutdownSend(client.get());
}

}  // namespace

int main(int argc, char** argv) {
  const uint16_t port = static_cast<uint16_t>(argc > 1 ? std::atoi(argv[1]) : 80);
  std::set<std::string> banned;
  for (int i = 2; i < argc; ++i) banned.insert(argv[i]);
  if (!palisard::StartNetworking().ok()) return 1;
  palisard::Socket listener;
  if (!palisard::OpenTcpSocket(&listener).ok() || !palisard::BindAddress(listener.get(), {0x7F000001, port}).ok() ||
      !palisard::ListenForConnections(listener.get()).ok()) {
    std::fprintf(stderr, "cannot listen on 127.0.0.1:%u\n", port);
    return 1;
  }
  std::printf("ban service on 127.0.0.1:%u\n", port);
  std::fflush(stdout);
  for (;;) {
    palisard::Socket client;
    if (palisard::AcceptConnection(listener.get(), &client, nullptr).ok()) {
      std::thread(Serve, std::move(client), std::cref(banned)).detach();
    }
  }
}

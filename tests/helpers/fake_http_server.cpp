#include "helpers/fake_http_server.h"

#include <cstdlib>

namespace palisard {
namespace {

// Reads one request: up to the empty line, then its content-length body.
std::string ReadRequest(SocketHandle client) {
  std::string request;
  char piece[4096];
  for (;;) {
    std::size_t headerEnd = request.find("\r\n\r\n");
    if (headerEnd != std::string::npos) {
      std::size_t length = 0;
      std::size_t at = request.find("Content-Length: ");
      if (at != std::string::npos && at < headerEnd) length = std::strtoul(request.c_str() + at + 16, nullptr, 10);
      if (request.size() >= headerEnd + 4 + length) return request;
    }
    std::size_t got = 0;
    if (!ReceiveBytes(client, piece, sizeof(piece), &got).ok()) return request;
    request.append(piece, got);
  }
}

}  // namespace

FakeHttpServer::FakeHttpServer(Answer answer, Mode mode, Ipv4Endpoint where)
    : answer_(std::move(answer)), mode_(mode), where_(where) {
  if (!OpenTcpSocket(&listener_).ok() || !BindAddress(listener_.get(), where).ok() ||
      !ListenForConnections(listener_.get()).ok()) {
    listener_.reset();
    return;
  }
  port_ = LocalPort(listener_.get()).value_or(0);
  listening_ = true;
  where_.port = port_;
  thread_ = std::thread(&FakeHttpServer::Serve, this);
}

FakeHttpServer::~FakeHttpServer() {
  stopping_ = true;
  if (thread_.joinable()) {
    if (listening_) {
      Socket wake;
      if (OpenTcpSocket(&wake).ok()) (void)ConnectTo(wake.get(), where_, std::chrono::seconds(1));  // a wake-up
    }
    thread_.join();
  }
}

std::vector<std::string> FakeHttpServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::string FakeHttpServer::Ok(const std::string& body, const std::string& status) {
  return "HTTP/1.1 " + status +
         "\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         body;
}

std::string FakeHttpServer::Chunked(const std::string& body) {
  std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (std::size_t at = 0; at < body.size(); at += 7) {
    std::string chunk = body.substr(at, 7);
    char size[16];
    std::snprintf(size, sizeof(size), "%zx\r\n", chunk.size());
    answer += size + chunk + "\r\n";
  }
  return answer + "0\r\n\r\n";
}

void FakeHttpServer::Serve() {
  while (!stopping_) {
    Socket client;
    const Result accepted = AcceptConnection(listener_.get(), &client, nullptr);
    if (stopping_) break;
    if (!accepted.ok()) continue;
    if (mode_ == Mode::kAcceptOnce) {
      listener_.reset();
      listening_ = false;
    }
    ++connections_;
    if (!SetIoTimeout(client.get(), std::chrono::seconds(5)).ok()) continue;
    std::string request = ReadRequest(client.get());
    if (request.empty()) {
      if (mode_ == Mode::kAcceptOnce) break;
      continue;  // a probe connection
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    if (mode_ == Mode::kSilent) {
      char ignored[64];
      std::size_t got = 0;
      while (ReceiveBytes(client.get(), ignored, sizeof(ignored), &got).ok()) {
      }
      continue;
    }
    std::string answer = answer_(request);
    (void)SendAll(client.get(), answer.data(), answer.size());
    ShutdownSend(client.get());
    if (mode_ == Mode::kAcceptOnce) break;
  }
}

}  // namespace palisard

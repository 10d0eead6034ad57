#include "system/service_load.h"

#include "helpers/http_client.h"
#include "soap/soap_codec.h"

namespace palisard {

namespace {

constexpr uint64_t kFirstPlayer = 76561198100000000ULL;

std::string Post(SoapOperation operation, const std::string& body) {
  return std::string("POST ") + kContractPath + " HTTP/1.1\r\nHost: bans\r\nConnection: close\r\nSOAPAction: \"" +
         SoapAction(operation) + "\"\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

}  // namespace

std::string ReportRequest(uint64_t reporter, uint64_t reported) {
  return Post(SoapOperation::kAddInfraction, AddInfractionDocument(reporter, reported));
}

LoadExchange ServiceLoad::Exchange(uint16_t port, bool report) {
  const uint64_t number = made_++;
  LoadExchange exchange;
  exchange.report = report;
  // Twenty reports of each player: below the hourly cap on one player.
  const uint64_t reported = kFirstPlayer + number / 20;
  exchange.reporter = kFirstPlayer + 1'000'000 + number;
  const std::string request = report ? ReportRequest(exchange.reporter, reported)
                                     : Post(SoapOperation::kGetBanList, GetBanListDocument({reported, reported + 1}));
  const uint32_t from = 0x0A000001 | static_cast<uint32_t>((number & 0xFFFF) << 8);
  exchange.start = std::chrono::steady_clock::now();
  Socket socket = ConnectToLoopback(port, from);
  std::string answer;
  if (socket.valid() && SendAll(socket.get(), request.data(), request.size()).ok()) {
    answer = ReadUntilClosed(socket.get(), 5000);
  }
  exchange.end = std::chrono::steady_clock::now();
  if (answer.rfind("HTTP/1.", 0) == 0 && answer.size() >= 12) exchange.status = std::atoi(answer.c_str() + 9);
  // A 200 whose body lacks the answer was cut short: not acknowledged.
  if (exchange.status == 200 && report && !ParseAddInfractionResult(answer)) exchange.status = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  exchanges_.push_back(exchange);
  return exchange;
}

void ServiceLoad::Start(uint16_t port, int clients) {
  running_ = true;
  for (int i = 0; i < clients; ++i) {
    clients_.emplace_back([this, port, i] {
      machine_.Inside([&] {
        for (int n = i; running_; ++n) {
          Exchange(port, n % 3 == 0);
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      });
    });
  }
}

void ServiceLoad::Stop() {
  running_ = false;
  for (std::thread& client : clients_) client.join();
  clients_.clear();
}

std::vector<LoadExchange> ServiceLoad::Between(std::chrono::steady_clock::time_point from,
                                               std::chrono::steady_clock::time_point to) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<LoadExchange> within;
  for (const LoadExchange& exchange : exchanges_) {
    if (exchange.start >= from && exchange.start < to) within.push_back(exchange);
  }
  return within;
}

std::set<uint64_t> ServiceLoad::Acknowledged() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::set<uint64_t> reporters;
  for (const LoadExchange& exchange : exchanges_) {
    if (exchange.report && exchange.answered()) reporters.insert(exchange.reporter);
  }
  return reporters;
}

}  // namespace palisard

#include "service/http_session.h"

#include <boost/asio/post.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <boost/range/iterator_range.hpp>

#include <chrono>
#include <utility>

#include "service/source_network.h"

namespace palisard {

namespace beast = boost::beast;
namespace http = boost::beast::http;

namespace {

UnixTime WallTimeNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

PublicAnswer Refusal(unsigned status, const char* text) { return {status, "text/plain; charset=utf-8", text, {}}; }

}  // namespace

HttpSession::HttpSession(boost::asio::ip::tcp::socket socket, std::string source, std::string network, bool viaProxy,
                         SessionContext& context)
    : stream_(std::move(socket)),
      source_(std::move(source)),
      network_(std::move(network)),
      viaProxy_(viaProxy),
      context_(context),
      storeDeadline_(stream_.get_executor()) {}

HttpSession::~HttpSession() { context_.caps.Release(source_); }

void HttpSession::ReadHeader() {
  parser_.emplace();
  parser_->header_limit(kHeaderLimit);
  parser_->body_limit(kBodyLimit);
  stream_.expires_after(context_.settings.headerDeadline);
  http::async_read_header(stream_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnHeader(error); });
}

void HttpSession::OnHeader(beast::error_code error) {
  if (error) return OnReadError(error);
  const auto expect = parser_->get().find(http::field::expect);
  if (expect == parser_->get().end() || !beast::iequals(expect->value(), "100-continue")) return ReadBody();
  // .NET clients wait for this before they send a body.
  continue_ = {http::status::continue_, parser_->get().version()};
  http::async_write(stream_, continue_, [self = shared_from_this()](beast::error_code written, std::size_t) {
    if (!written) self->ReadBody();
  });
}

void HttpSession::ReadBody() {
  stream_.expires_after(context_.settings.bodyDeadline);
  http::async_read(stream_, buffer_, *parser_,
                   [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnBody(error); });
}

void HttpSession::OnBody(beast::error_code error) {
  if (error) return OnReadError(error);
  Dispatch();
}

void HttpSession::OnReadError(beast::error_code error) {
  if (error == http::error::body_limit) return Reply(Refusal(413, "Payload Too Large\n"), false);
  if (error == http::error::header_limit) return Reply(Refusal(431, "Request Header Fields Too Large\n"), false);
  const bool malformed = error.category() == http::make_error_code(http::error::bad_method).category() &&
                         error != http::error::end_of_stream && error != http::error::partial_message;
  if (malformed) return Reply(Refusal(400, "Bad Request\n"), false);
  // The peer left or took too long: the stream closes with the session.
}

void HttpSession::Dispatch() {
  const auto& request = parser_->get();
  PublicRequest routed;
  routed.method = std::string(request.method_string());
  routed.target = std::string(request.target());
  routed.host = std::string(request[http::field::host]);
  if (const auto action = request.find("SOAPAction"); action != request.end())
    routed.soapAction = std::string(action->value());
  routed.body = std::move(parser_->get().body());
  Routed answer = Route(routed, context_.settings);
  if (auto* now = std::get_if<PublicAnswer>(&answer)) return Reply(*now, request.keep_alive());
  AskStore(std::move(std::get<ServiceRequest>(answer)), ClientNetwork());
}

std::string HttpSession::ClientNetwork() const {
  if (!viaProxy_) return network_;
  // A load balancer appends the address it saw to the header (a second
  // field when there was one): the last entry is the client's, the ones
  // before it are what the client itself claimed.
  std::string forwarded;
  for (const auto& field : boost::make_iterator_range(parser_->get().equal_range("X-Forwarded-For")))
    forwarded = std::string(field.value());
  std::string client = forwarded.substr(forwarded.rfind(',') + 1);
  client.erase(0, client.find_first_not_of(" \t"));
  client.erase(client.find_last_not_of(" \t") + 1);
  return SourceNetwork(client).value_or(network_);
}

void HttpSession::AskStore(ServiceRequest call, std::string network) {
  const uint64_t number = ++calls_;
  awaiting_ = true;
  const auto due = std::chrono::steady_clock::now() + context_.settings.storeDeadline;
  storeDeadline_.expires_at(due);
  storeDeadline_.async_wait([self = shared_from_this(), number](beast::error_code error) {
    if (!error) self->OnStoreAnswer(number, StoreFault());
  });
  // The worker holds no strong reference: a session is ended on its own
  // thread only, and the store's late answer finds it gone.
  context_.workers.Post(due, [weak = weak_from_this(), executor = stream_.get_executor(), settings = &context_.settings,
                              network = std::move(network), call = std::move(call), number](Store* store) {
    Result stored = Result::Failure(Result::Kind::kUnavailable);
    PublicAnswer answer = store ? AnswerCall(*store, call, network, *settings, WallTimeNow(), &stored) : StoreFault();
    boost::asio::post(executor, [weak, number, answer = std::move(answer)]() mutable {
      if (auto self = weak.lock()) self->OnStoreAnswer(number, std::move(answer));
    });
    return stored;
  });
}

void HttpSession::OnStoreAnswer(uint64_t call, PublicAnswer answer) {
  if (!awaiting_ || call != calls_) return;  // answered already, by the deadline
  awaiting_ = false;
  storeDeadline_.cancel();
  Reply(answer, parser_->get().keep_alive());
}

void HttpSession::Reply(const PublicAnswer& answer, bool keepAlive) {
  const unsigned version = parser_ && parser_->is_header_done() ? parser_->get().version() : 11;
  response_ = {static_cast<http::status>(answer.status), version};
  response_.set(http::field::content_type, answer.contentType);
  if (!answer.allow.empty()) response_.set(http::field::allow, answer.allow);
  response_.body() = answer.body;
  response_.keep_alive(keepAlive);
  response_.prepare_payload();
  stream_.expires_after(context_.settings.bodyDeadline);
  http::async_write(stream_, response_, [self = shared_from_this(), keepAlive](beast::error_code error, std::size_t) {
    self->OnWritten(keepAlive, error);
  });
}

void HttpSession::OnWritten(bool keepAlive, beast::error_code error) {
  if (error) return;
  if (keepAlive) return ReadHeader();
  beast::error_code ignored;
  stream_.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
  stream_.expires_after(kLinger);
  Linger();
}

void HttpSession::Linger() {
  // Closing with unread bytes would reset the connection, and the peer
  // could lose the answer (a 413 sent while it still sends its body).
  stream_.async_read_some(boost::asio::buffer(discard_),
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                            if (!error) self->Linger();
                          });
}

}  // namespace palisard

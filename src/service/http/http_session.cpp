#include "service/http/http_session.h"

#include <boost/asio/post.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <boost/range/iterator_range.hpp>

#include <chrono>
#include <utility>

#include "service/http/error_answers.h"
#include "service/values/source_network.h"

namespace palisard {

namespace beast = boost::beast;
namespace http = boost::beast::http;

HttpSession::HttpSession(boost::asio::ip::tcp::socket socket, std::string peer, std::string source,
                         std::string capNetwork, bool viaProxy, ConnectionCaps::Place place, SessionContext& context)
    : socket_(std::move(socket)),
      peer_(std::move(peer)),
      source_(std::move(source)),
      capNetwork_(std::move(capNetwork)),
      network_(SourceNetwork(peer_).value_or(peer_)),
      viaProxy_(viaProxy),
      place_(place),
      context_(context),
      ioDeadline_(context.clock, socket_.get_executor()),
      storeDeadline_(context.clock, socket_.get_executor()) {}

bool SessionList::Add(const std::shared_ptr<HttpSession>& session) {
  MutexLock lock(mutex_);
  if (stopping_) return false;
  live_.emplace(session.get(), session);
  return true;
}

void SessionList::Remove(const HttpSession* session) {
  MutexLock lock(mutex_);
  live_.erase(session);
}

void SessionList::StopAll() {
  std::vector<std::shared_ptr<HttpSession>> stopping;
  {
    MutexLock lock(mutex_);
    stopping_ = true;
    for (const auto& [key, session] : live_) {
      if (auto live = session.lock()) stopping.push_back(std::move(live));
    }
  }
  for (const auto& session : stopping) session->Stop();
}

bool SessionList::empty() const {
  MutexLock lock(mutex_);
  return live_.empty();
}

std::chrono::seconds HttpSession::LongestExchange(const ServeSettings& settings) {
  return settings.headerDeadline + settings.bodyDeadline + settings.storeDeadline + settings.bodyDeadline + kLinger;
}

HttpSession::~HttpSession() {
  context_.sessions.Remove(this);
  context_.caps.Release(source_, capNetwork_, place_);
}

void HttpSession::Start() {
  if (context_.sessions.Add(shared_from_this())) ReadHeader();
}

void HttpSession::Stop() {
  boost::asio::post(socket_.get_executor(), [self = shared_from_this()] { self->StopIfWaiting(); });
}

void HttpSession::StopIfWaiting() {
  if (!waiting_) return;
  beast::error_code ignored;
  const bool begun = parser_->got_some() || buffer_.size() > 0 || socket_.available(ignored) > 0;
  if (!begun) socket_.cancel(ignored);  // the read ends, and the connection with the session
}

void HttpSession::ReadHeader() {
  waiting_ = true;
  parser_.emplace();
  parser_->header_limit(kHeaderLimit);
  parser_->body_limit(kBodyLimit);
  ExpireIn(context_.settings.headerDeadline);
  http::async_read_header(socket_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnHeader(error); });
}

void HttpSession::OnHeader(beast::error_code error) {
  waiting_ = false;
  if (error) return OnReadError(error);
  const auto expect = parser_->get().find(http::field::expect);
  if (expect == parser_->get().end() || !beast::iequals(expect->value(), "100-continue")) return ReadBody();
  // .NET clients wait for this before they send a body.
  continue_ = {http::status::continue_, parser_->get().version()};
  http::async_write(socket_, continue_, [self = shared_from_this()](beast::error_code written, std::size_t) {
    if (!written) self->ReadBody();
  });
}

void HttpSession::ReadBody() {
  ExpireIn(context_.settings.bodyDeadline);
  http::async_read(socket_, buffer_, *parser_,
                   [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnBody(error); });
}

void HttpSession::OnBody(beast::error_code error) {
  if (error) return OnReadError(error);
  // No I/O until the answer: the store's deadline is its own.
  ioDeadline_.Cancel();
  Dispatch();
}

void HttpSession::OnReadError(beast::error_code error) {
  if (error == http::error::body_limit) return Reply(ErrorAnswer(Refusal::kTooLarge, Medium::kPlain), false);
  if (error == http::error::header_limit) return Reply(ErrorAnswer(Refusal::kHeaderTooLarge, Medium::kPlain), false);
  const bool malformed = error.category() == http::make_error_code(http::error::bad_method).category() &&
                         error != http::error::end_of_stream && error != http::error::partial_message;
  if (malformed) return Reply(ErrorAnswer(Refusal::kBadRequest, Medium::kPlain), false);
  // The peer left or took too long: the stream closes with the session.
}

void HttpSession::Dispatch() {
  const auto& request = parser_->get();
  HttpRequest routed;
  routed.method = std::string(request.method_string());
  routed.target = std::string(request.target());
  routed.host = std::string(request[http::field::host]);
  if (const auto action = request.find("SOAPAction"); action != request.end())
    routed.soapAction = std::string(action->value());
  routed.origin = std::string(request[http::field::origin]);
  routed.cookie = std::string(request[http::field::cookie]);
  routed.authorization = std::string(request[http::field::authorization]);
  routed.forwardedProto = std::string(request["X-Forwarded-Proto"]);
  routed.ifNoneMatch = std::string(request[http::field::if_none_match]);
  routed.contentEncoding = std::string(request[http::field::content_encoding]);
  routed.body = std::move(parser_->get().body());
  routed.peer = peer_;
  routed.client = ClientAddress();
  routed.source = source_;
  routed.network = viaProxy_ ? SourceNetwork(routed.client).value_or(network_) : network_;
  // A connection in the kept share serves one request, and only one that
  // brings what the share is kept for.
  const bool kept = place_ == ConnectionCaps::Place::kKept;
  if (kept && !(context_.mayUseKeptShare && context_.mayUseKeptShare(routed))) return Reply(context_.busy, false);
  Routed answer = context_.router(routed);
  if (auto* now = std::get_if<HttpAnswer>(&answer)) return Reply(*now, request.keep_alive() && !kept);
  if (auto* signIn = std::get_if<SignInCall>(&answer)) return AskSignIn(std::move(signIn->call));
  AskStore(std::move(std::get<StoreCall>(answer)), context_.workers);
}

void HttpSession::AskSignIn(StoreCall call) {
  if (!context_.signInLane || ++context_.signIns > context_.signInsAtOnce) {
    if (context_.signInLane) --context_.signIns;
    return Reply(context_.busy, parser_->get().keep_alive());
  }
  AskStore(std::move(call), *context_.signInLane, &context_.signIns);
}

std::string HttpSession::ClientAddress() const {
  if (!viaProxy_) return peer_;
  std::vector<std::string> fields;
  for (const auto& field : boost::make_iterator_range(parser_->get().equal_range("X-Forwarded-For")))
    fields.emplace_back(field.value());
  return ForwardedClient(fields, peer_);
}

void HttpSession::AskStore(StoreCall call, const StoreWorkers::Lane& lane, std::atomic<std::size_t>* done) {
  const uint64_t number = ++calls_;
  awaiting_ = true;
  const std::chrono::seconds deadline = context_.settings.storeDeadline;
  // Holds the session until its call is answered or its deadline passes.
  storeDeadline_.StartHolding(deadline, shared_from_this(), [this, number, deadline] {
    if (!awaiting_ || number != calls_) return;
    context_.workers.TimedOut(deadline);
    OnStoreAnswer(number, context_.unanswered);
  });
  // The worker holds no strong reference: a session is ended on its own
  // strand only, and the store's late answer finds it gone.
  auto answered = [weak = weak_from_this(), executor = socket_.get_executor(), number, done](HttpAnswer answer) {
    if (done != nullptr) --*done;
    boost::asio::post(executor, [weak, number, answer = std::move(answer)]() mutable {
      if (auto self = weak.lock()) self->OnStoreAnswer(number, std::move(answer));
    });
  };
  lane.Post(Deadline(context_.clock, deadline),
            {[call = std::move(call), answered, clock = &context_.clock](Store& store) {
               StoreReply reply = call(store, clock->UnixSeconds());
               answered(std::move(reply.answer));
               return reply.store;
             },
             [answered, unanswered = &context_.unanswered] { answered(*unanswered); }});
}

void HttpSession::OnStoreAnswer(uint64_t call, HttpAnswer answer) {
  if (!awaiting_ || call != calls_) return;  // answered already, by the deadline
  awaiting_ = false;
  storeDeadline_.Cancel();
  Reply(answer, parser_->get().keep_alive() && place_ != ConnectionCaps::Place::kKept);
}

void HttpSession::Reply(const HttpAnswer& answer, bool keepAlive) {
  keepAlive = keepAlive && !context_.sessions.stopping();
  const unsigned version = parser_ && parser_->is_header_done() ? parser_->get().version() : 11;
  response_ = {static_cast<http::status>(answer.status), version};
  if (!answer.contentType.empty()) response_.set(http::field::content_type, answer.contentType);
  for (const auto& [name, value] : answer.headers) response_.insert(name, value);
  response_.body() = answer.body;
  response_.keep_alive(keepAlive);
  response_.prepare_payload();
  ExpireIn(context_.settings.bodyDeadline);
  http::async_write(socket_, response_, [self = shared_from_this(), keepAlive](beast::error_code error, std::size_t) {
    self->OnWritten(keepAlive, error);
  });
}

void HttpSession::ExpireIn(std::chrono::milliseconds after) {
  ioDeadline_.Start(after, weak_from_this(), [this] {
    beast::error_code ignored;
    socket_.close(ignored);  // what is under way ends with an error, and the session with it
  });
}

void HttpSession::OnWritten(bool keepAlive, beast::error_code error) {
  if (error) return;
  if (keepAlive) return ReadHeader();
  // A request read to its end, with nothing after it: the socket closes
  // with the session, at once.
  beast::error_code ignored;
  const bool unread = buffer_.size() > 0 || socket_.available(ignored) > 0 || ignored;
  if (parser_ && parser_->is_done() && !unread) return ioDeadline_.Cancel();
  socket_.shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
  ExpireIn(kLinger);
  Linger();
}

void HttpSession::Linger() {
  // Closing with unread bytes would reset the connection, and the peer
  // could lose the answer (a 413 sent while it still sends its body).
  socket_.async_read_some(boost::asio::buffer(discard_),
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                            if (!error) self->Linger();
                          });
}

}  // namespace palisard

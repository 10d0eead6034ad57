#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "common/result.h"
#include "store/store.h"

namespace palisard {

// What a listener's router needs of one HTTP request.
struct HttpRequest {
  std::string method;  // "GET", "POST", ...
  std::string target;  // the path and its query: "/banservices/GetBanList.asmx?WSDL"
  std::string host;    // the Host header; empty when there was none
  std::optional<std::string> soapAction;
  std::string origin;          // the Origin header; empty when none
  std::string cookie;          // the Cookie header
  std::string authorization;   // the Authorization header (the API's tokens)
  std::string forwardedProto;  // X-Forwarded-Proto, as a proxy in front sets it
  std::string ifNoneMatch;     // If-None-Match: the tags of the copies the client holds
  // The Content-Encoding header; empty when none.
  std::string contentEncoding;
  std::string body;
  std::string peer;     // the peer's address
  std::string client;   // the client's: the peer's, or the one a trusted load balancer names
  std::string source;   // the peer as the caps count it (CapSource)
  std::string network;  // the client's SourceNetwork
};

// What it answers.
struct HttpAnswer {
  unsigned status = 200;
  std::string contentType;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // Allow, Location, Set-Cookie, ...
};

// What a store call gives back: its answer, and how the store fared. A
// refusal of the request (a bad id, a ban that exists already) is the
// answer's business and the store's ok; a failure of the store is told in
// the log, and kUnavailable drops the worker's connection, to be opened
// again.
struct StoreReply {
  HttpAnswer answer;
  Result store;
};

// Work that needs the store, run on a store worker at `now` (Unix seconds).
using StoreCall = std::function<StoreReply(Store& store, UnixTime now)>;

// A sign-in: a store call that also checks a password (tens of
// milliseconds of a core and of memory). Sign-ins run apart from the pages,
// a few at a time, so that signed-in moderators are served first whatever
// strangers send.
struct SignInCall {
  StoreCall call;
};

// A request at once answered, or the store call that answers it.
using Routed = std::variant<HttpAnswer, StoreCall, SignInCall>;
using Router = std::function<Routed(const HttpRequest&)>;

// The path of a target, without its query; and the query.
std::string PathOf(const std::string& target);
std::string QueryOf(const std::string& target);

}  // namespace palisard

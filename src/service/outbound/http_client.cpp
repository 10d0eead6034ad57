#include "service/outbound/http_client.h"

#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <span>

#include "common/ascii_text.h"
#include "common/version.h"
#include "service/outbound/destination_rule.h"

namespace palisard {
namespace {

// Headers of an answer kept, in bytes: Retry-After, ETag and their like
// fit many times over; the rest are dropped.
constexpr std::size_t kKeptHeaderBytes = 8 * 1024;

// curl_global_init once for the process, whichever thread comes first.
bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

// What the callbacks of one transfer share.
struct Transfer {
  Transfer(const OutboundSettings& settings, OutboundAnswer& answer) : settings(settings), answer(answer) {}

  const OutboundSettings& settings;
  OutboundAnswer& answer;
  std::size_t headerBytes = 0;
  std::string refusal;  // why the last address was refused, if one was
};

Result Failure(Result::Kind kind, std::string text, int64_t code = 0) {
  return Result::Failure(kind, code, std::move(text));
}

std::size_t KeepBody(char* data, std::size_t size, std::size_t count, void* context) {
  Transfer& transfer = *static_cast<Transfer*>(context);
  OutboundAnswer& answer = transfer.answer;
  const std::size_t bytes = size * count;
  const std::size_t room = transfer.settings.limits.keptBody - answer.body.size();
  answer.body.append(data, std::min(bytes, room));
  if (bytes <= room) return bytes;
  // Ends the transfer: the rest is never read.
  answer.bodyCut = true;
  return 0;
}

std::size_t KeepHeader(char* data, std::size_t size, std::size_t count, void* context) {
  Transfer& transfer = *static_cast<Transfer*>(context);
  const std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    // A status line: the headers of an interim (1xx) answer are not the final one's.
    transfer.answer.headers.clear();
    transfer.headerBytes = 0;
    return line.size();
  }
  const std::size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos || transfer.headerBytes + line.size() > kKeptHeaderBytes) {
    return line.size();
  }
  std::string name(line.substr(0, colon));
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  transfer.answer.headers.emplace_back(std::move(name), std::string(Trimmed(line.substr(colon + 1))));
  transfer.headerBytes += line.size();
  return line.size();
}

std::span<const uint8_t> SocketAddressBytes(const curl_sockaddr& address) {
  if (address.family == AF_INET) {
    return {reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(&address.addr)->sin_addr), 4};
  }
  if (address.family == AF_INET6) {
    return {reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in6*>(&address.addr)->sin6_addr), 16};
  }
  return {};
}

// The address rule on the address libcurl is about to connect to, after
// its own resolution: a name that resolved to a public address when the
// webhook was added and to a private one now is refused here.
curl_socket_t OpenCheckedSocket(void* context, curlsocktype, curl_sockaddr* address) {
  Transfer& transfer = *static_cast<Transfer*>(context);
  Result allowed = CheckAddress(SocketAddressBytes(*address), transfer.settings.allowPrivate);
  if (!allowed.ok()) {
    transfer.refusal = allowed.text();
    return CURL_SOCKET_BAD;
  }
  return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

using HeaderLines = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

bool OneLine(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) == text.npos; }

Result MakeHeaderLines(const HeaderList& headers, HeaderLines* lines) {
  // No "Expect: 100-continue" wait before the body.
  std::vector<std::string> texts = {"Expect:"};
  for (const auto& [name, value] : headers) {
    if (name.empty() || name.find(':') != name.npos || !OneLine(name) || !OneLine(value)) {
      return Failure(Result::Kind::kInvalid, "the header '" + name + "' cannot be sent");
    }
    texts.push_back(name + (value.empty() ? ";" : ": " + value));
  }
  curl_slist* list = nullptr;
  for (const std::string& text : texts) {
    curl_slist* longer = curl_slist_append(list, text.c_str());
    if (longer == nullptr) {
      curl_slist_free_all(list);
      return Failure(Result::Kind::kFailed, "out of memory");
    }
    list = longer;
  }
  lines->reset(list);
  return Result::Ok();
}

// Collects the first failure of a run of curl_easy_setopt calls.
class Options {
 public:
  explicit Options(CURL* easy) : easy_(easy) {}
  template <typename Value>
  void Set(CURLoption option, Value value) {
    if (code_ == CURLE_OK) code_ = curl_easy_setopt(easy_, option, value);
  }
  Result Outcome() const {
    return code_ == CURLE_OK ? Result::Ok()
                             : Failure(Result::Kind::kInvalid, curl_easy_strerror(code_), static_cast<int64_t>(code_));
  }

 private:
  CURL* easy_;
  CURLcode code_ = CURLE_OK;
};

void SetRequest(Options& options, const OutboundRequest& request, curl_slist* headers) {
  options.Set(CURLOPT_URL, request.url.c_str());
  options.Set(CURLOPT_HTTPHEADER, headers);
  options.Set(CURLOPT_USERAGENT, "palisard-service/" PALISARD_VERSION);
  if (request.method == "GET" || request.method == "HEAD") {
    options.Set(CURLOPT_HTTPGET, 1L);
    options.Set(CURLOPT_NOBODY, request.method == "HEAD" ? 1L : 0L);
    return;
  }
  if (request.method != "POST") options.Set(CURLOPT_CUSTOMREQUEST, request.method.c_str());
  options.Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  options.Set(CURLOPT_POSTFIELDS, request.body.data());
}

void SetRules(Options& options, const OutboundSettings& settings) {
  options.Set(CURLOPT_PROTOCOLS_STR, "http,https");
  // A redirect is an answer like any other: following it would send the
  // signed event to an address nobody added and the address rule never
  // judged when it was added. The receiver's owner fixes the URL instead.
  options.Set(CURLOPT_FOLLOWLOCATION, 0L);
  options.Set(CURLOPT_PROXY, "");
  options.Set(CURLOPT_NOSIGNAL, 1L);
  options.Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.limits.connect.count()));
  options.Set(CURLOPT_TIMEOUT_MS, static_cast<long>(settings.limits.total.count()));
  // The body's bytes as sent: no compressed answer grows past the limit here.
  options.Set(CURLOPT_HTTP_CONTENT_DECODING, 0L);
  options.Set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  // The system's CA directory stays in use beside this file.
  if (!settings.extraCaFile.empty()) options.Set(CURLOPT_CAINFO, settings.extraCaFile.c_str());
}

void SetCallbacks(Options& options, Transfer* transfer) {
  options.Set(CURLOPT_OPENSOCKETFUNCTION, &OpenCheckedSocket);
  options.Set(CURLOPT_OPENSOCKETDATA, static_cast<void*>(transfer));
  options.Set(CURLOPT_HEADERFUNCTION, &KeepHeader);
  options.Set(CURLOPT_HEADERDATA, static_cast<void*>(transfer));
  options.Set(CURLOPT_WRITEFUNCTION, &KeepBody);
  options.Set(CURLOPT_WRITEDATA, static_cast<void*>(transfer));
}

bool IsTlsFailure(CURLcode code) {
  switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
      return true;
    default:
      return false;
  }
}

Result ResultOf(CURLcode code, const Transfer& transfer, const char* error) {
  if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && transfer.answer.bodyCut)) return Result::Ok();
  const std::string detail = *error != '\0' ? error : curl_easy_strerror(code);
  const auto fail = [code](Result::Kind kind, const std::string& text) {
    return Failure(kind, text, static_cast<int64_t>(code));
  };
  if (code == CURLE_COULDNT_CONNECT && !transfer.refusal.empty()) return fail(Result::Kind::kRefused, transfer.refusal);
  if (code == CURLE_OPERATION_TIMEDOUT) return fail(Result::Kind::kTimedOut, "timed out: " + detail);
  if (code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_CONNECT) {
    return fail(Result::Kind::kUnreachable, "cannot connect: " + detail);
  }
  if (code == CURLE_UNSUPPORTED_PROTOCOL || code == CURLE_URL_MALFORMAT) {
    return fail(Result::Kind::kInvalid, "not an http:// or https:// URL: " + detail);
  }
  if (IsTlsFailure(code)) return fail(Result::Kind::kFailed, "TLS failure: " + detail);
  return fail(Result::Kind::kFailed, detail);
}

bool IsToken(const std::string& method) {
  return !method.empty() && std::all_of(method.begin(), method.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

}  // namespace

std::optional<std::string> OutboundAnswer::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key == name) return value;
  }
  return std::nullopt;
}

Result SendOutboundRequest(const OutboundRequest& request, const OutboundSettings& settings, OutboundAnswer* answer) {
  *answer = OutboundAnswer();
  if (!IsToken(request.method)) return Failure(Result::Kind::kInvalid, "'" + request.method + "' is not a method");
  HeaderLines headers(nullptr, curl_slist_free_all);
  if (Result made = MakeHeaderLines(request.headers, &headers); !made.ok()) return made;
  const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(CurlReady() ? curl_easy_init() : nullptr,
                                                                 curl_easy_cleanup);
  if (!easy) return Failure(Result::Kind::kFailed, "libcurl cannot start");
  Transfer transfer(settings, *answer);
  char error[CURL_ERROR_SIZE] = "";
  Options options(easy.get());
  options.Set(CURLOPT_ERRORBUFFER, error);
  SetRequest(options, request, headers.get());
  SetRules(options, settings);
  SetCallbacks(options, &transfer);
  if (Result set = options.Outcome(); !set.ok()) return set;
  const CURLcode code = curl_easy_perform(easy.get());
  curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &answer->status);
  return ResultOf(code, transfer, error);
}

}  // namespace palisard

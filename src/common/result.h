#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace palisard {

// The one way a call that can fail tells how it went, at every seam: ok, or
// the kind of failure (what callers branch on), the number the system, the
// engine or the peer gave (what the console prints), and a short text for
// people. A value a call produces goes through an out-parameter or comes
// back as an optional; "found or not" is an optional, never a failure.
class [[nodiscard]] Result {
 public:
  enum class Kind : uint8_t {
    kOk,
    kFailed,        // a failure with no finer kind; see code()
    kTimedOut,      // a deadline passed first
    kClosed,        // the peer ended the connection first, or the object was shut down
    kRefused,       // the peer or the system said no
    kAddressInUse,  // a port or address is taken
    kUnreachable,   // no peer, no route, no server found
    kInvalid,       // the input breaks a rule: a bad id, a malformed message
    kNotFound,      // what the call acts on does not exist
    kConflict,      // it exists already, or changed meanwhile
    kUnavailable,   // a store or service cannot be used now
  };

  constexpr Result() = default;
  static Result Ok() { return Result(); }
  static Result Failure(Kind kind, int64_t code = 0, std::string text = {}) {
    return Result(kind == Kind::kOk ? Kind::kFailed : kind, code, std::move(text));
  }

  // The kinds callers name most, with their text for people.
  static Result Invalid(std::string text) { return Failure(Kind::kInvalid, 0, std::move(text)); }
  static Result NotFound(std::string text, int64_t code = 0) { return Failure(Kind::kNotFound, code, std::move(text)); }
  static Result Conflict(std::string text) { return Failure(Kind::kConflict, 0, std::move(text)); }
  static Result Unavailable(std::string text, int64_t code = 0) {
    return Failure(Kind::kUnavailable, code, std::move(text));
  }
  static Result Failed(std::string text, int64_t code = 0) { return Failure(Kind::kFailed, code, std::move(text)); }

  bool ok() const { return kind_ == Kind::kOk; }
  Kind kind() const { return kind_; }
  // The system's, the engine's or the peer's own number; 0 when there is none.
  int64_t code() const { return code_; }
  // What happened, for a person; empty when the kind says it all.
  const std::string& text() const { return text_; }

 private:
  Result(Kind kind, int64_t code, std::string text) : kind_(kind), code_(code), text_(std::move(text)) {}

  Kind kind_ = Kind::kOk;
  int64_t code_ = 0;
  std::string text_;
};

}  // namespace palisard

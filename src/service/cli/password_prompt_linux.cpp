#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "service/cli/password_prompt.h"

namespace palisard {
namespace {

// Echo off on the terminal while it lives; back as it was afterwards.
class EchoOff {
 public:
  EchoOff() : ok_(tcgetattr(STDIN_FILENO, &saved_) == 0) {
    if (!ok_) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ok_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    if (ok_) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  termios saved_{};
  bool ok_;
};

Result TypedLine(const char* prompt, std::string* line) {
  std::fputs(prompt, stderr);
  std::fflush(stderr);
  bool read = false;
  {
    EchoOff quiet;
    read = static_cast<bool>(std::getline(std::cin, *line));
  }
  std::fputs("\n", stderr);
  if (!read) return Result::Invalid("no password was typed");
  return Result::Ok();
}

}  // namespace

Result ReadNewPassword(std::string* password) {
  if (!isatty(STDIN_FILENO)) {
    if (!std::getline(std::cin, *password)) {
      return Result::Invalid("no password on standard input");
    }
    if (!password->empty() && password->back() == '\r') password->pop_back();
    return Result::Ok();
  }
  std::string again;
  Result typed = TypedLine("Password: ", password);
  if (typed.ok()) typed = TypedLine("The same password again: ", &again);
  if (!typed.ok()) return typed;
  if (*password != again) return Result::Invalid("the two passwords differ");
  return Result::Ok();
}

}  // namespace palisard

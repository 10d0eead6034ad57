#include "service/cli/password_prompt.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <iostream>

namespace palisard {
namespace {

// A password piped in from a file written on Windows ends its line in CRLF:
// the carriage return is no part of the password.
TEST(PasswordPromptTest, PipedPasswordIsTheFirstLineWithoutItsCarriageReturn) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const std::string piped = "s3cret pass\r\nnext\n";
  ASSERT_EQ(write(pipeEnds[1], piped.data(), piped.size()), static_cast<ssize_t>(piped.size()));
  close(pipeEnds[1]);
  const int terminal = dup(STDIN_FILENO);
  dup2(pipeEnds[0], STDIN_FILENO);
  close(pipeEnds[0]);
  std::string password;
  const Result read = ReadNewPassword(&password);
  dup2(terminal, STDIN_FILENO);
  close(terminal);
  std::cin.clear();
  EXPECT_TRUE(read.ok()) << read.text();
  EXPECT_EQ(password, "s3cret pass");
}

}  // namespace
}  // namespace palisard

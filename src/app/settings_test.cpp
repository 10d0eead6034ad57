#include "app/settings.h"

#include <gtest/gtest.h>

#include "app/profile_file.h"
#include "helpers/temp_dir.h"

namespace palisard {
namespace {

TEST(SettingsTest, NoFileGivesEveryDefault) {
  TempDir dir;
  Settings settings = ReadSettings(dir.path() / "Palisard.ini");
  EXPECT_EQ(settings.httpPort, 3060);
  EXPECT_EQ(settings.adminPort, 3061);
  EXPECT_EQ(settings.banStreaming, 1);
  EXPECT_EQ(settings.checkForUpdates, 1);
  EXPECT_EQ(settings.overrideHost, kDefaultServiceHost);
  EXPECT_EQ(settings.consoleKey, 0);
}

TEST(SettingsTest, EveryKeySetWithNamesInAnyCase) {
  TempDir dir;
  auto file = dir.Write("Palisard.ini",
                        "; comment\r\n"
                        "[Other]\r\nHttpPort=1\r\n"
                        "[PALISARD]\r\n"
                        "httpport = 8080\r\n"
                        "ADMINPORT=3065\r\n"
                        "BanStreaming=0\r\n"
                        "CheckForUpdates=0\r\n"
                        "OverrideHost = \"bans.example.test\"\r\n"
                        "consolekey=1\r\n");
  Settings settings = ReadSettings(file);
  EXPECT_EQ(settings.httpPort, 8080);
  EXPECT_EQ(settings.adminPort, 3065);
  EXPECT_EQ(settings.banStreaming, 0);
  EXPECT_EQ(settings.checkForUpdates, 0);
  EXPECT_EQ(settings.overrideHost, "bans.example.test");
  EXPECT_EQ(settings.consoleKey, 1);
}

TEST(SettingsTest, OverrideHostKeepsAtMost254Characters) {
  TempDir dir;
  const std::string exact(254, 'h');
  EXPECT_EQ(ReadSettings(dir.Write("a.ini", "[Palisard]\nOverrideHost=" + exact + "\n")).overrideHost, exact);
  const std::string longer(300, 'h');
  EXPECT_EQ(ReadSettings(dir.Write("b.ini", "[Palisard]\nOverrideHost=" + longer + "\n")).overrideHost, exact);
}

TEST(SettingsTest, AdminPortRange) {
  EXPECT_TRUE(IsAdminPortInRange(3061));
  EXPECT_TRUE(IsAdminPortInRange(3072));
  EXPECT_FALSE(IsAdminPortInRange(3073));
  EXPECT_FALSE(IsAdminPortInRange(3060));
  EXPECT_FALSE(IsAdminPortInRange(-1));
  for (int port : {1, 3060, 65535}) EXPECT_TRUE(IsHttpPortInRange(port)) << port;
  for (int port : {0, -1, 65536, 68596}) EXPECT_FALSE(IsHttpPortInRange(port)) << port;
}

// Integers are read the way the Windows profile functions read them.
TEST(ProfileIntegerTest, ReadsTheLeadingNumber) {
  struct Case {
    const char* value;
    uint32_t expected;
  };
  const Case cases[] = {
      {"3061", 3061},    {"  3062", 3062},
      {"3063abc", 3063}, {"abc", 0},
      {"+5", 5},         {"-1", 0xFFFFFFFFu},
      {"0x0BF5", 3061},  {"0b101", 5},
      {"0o17", 15},      {"08", 8},
      {"4294967296", 0}, {"- 5", 0},
      {"0x", 0},         {"99999999999", 1215752191u},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseProfileInteger(c.value), c.expected) << c.value;
}

TEST(ProfileFileTest, EmptyOrMissingValueGivesTheDefault) {
  ProfileFile profile = ProfileFile::Parse("[s]\nempty=\nbare\nword=abc\n");
  EXPECT_EQ(profile.ReadInt("s", "empty", 7), 7u);
  EXPECT_EQ(profile.ReadInt("s", "bare", 7), 7u);
  EXPECT_EQ(profile.ReadInt("s", "missing", 7), 7u);
  EXPECT_EQ(profile.ReadInt("t", "word", 7), 7u);
  EXPECT_EQ(profile.ReadInt("s", "word", 7), 0u);
}

TEST(ProfileFileTest, FirstKeyWinsAcrossRepeatedSections) {
  ProfileFile profile = ProfileFile::Parse("[s]\na=1\n[t]\nb=2\n[S]\na=3\nc='q'\n");
  EXPECT_EQ(profile.ReadInt("s", "a", 0), 1u);
  EXPECT_EQ(profile.ReadString("s", "c", "", 255), "q");
}

}  // namespace
}  // namespace palisard

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "game/process_memory.h"
#include "game/signatures.h"
#include "helpers/recording_console.h"

namespace palisard {
namespace {

// The Windows stand-in (iw5mp.exe) started with a pipe on its standard
// input; ended when the test ends.
class WindowsGameSim {
 public:
  WindowsGameSim() {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    if (!CreatePipe(&readEnd, &input_, &inherit, 0)) return;
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string command = "\"" + WindowsPath(GAME_SIM_EXE) + "\"";
    started_ = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info_);
    CloseHandle(readEnd);
  }
  ~WindowsGameSim() {
    if (started_) {
      TerminateProcess(info_.hProcess, 0);
      WaitForSingleObject(info_.hProcess, 5000);
      CloseHandle(info_.hProcess);
      CloseHandle(info_.hThread);
    }
    CloseHandle(input_);
  }
  bool started() const { return started_; }
  uint32_t id() const { return info_.dwProcessId; }
  void Send(const std::string& line) {
    DWORD written = 0;
    WriteFile(input_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }

 private:
  // The build passes a Unix path; Wine sees the root file system as Z:.
  static std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) c = c == '/' ? '\\' : c;
    return path;
  }

  HANDLE input_ = nullptr;
  PROCESS_INFORMATION info_{};
  bool started_ = false;
};

TEST(WindowsProcessMemoryTest, FindsAndReadsTheStandIn) {
  auto processes = CreateSystemGameProcesses();
  ASSERT_EQ(processes->FindGameProcess(), 0u) << "a game is already running";
  WindowsGameSim game;
  ASSERT_TRUE(game.started());

  uint32_t found = 0;
  for (int i = 0; i < 100 && found == 0; ++i) {
    Sleep(50);
    found = processes->FindGameProcess();
  }
  ASSERT_EQ(found, game.id());
  auto memory = processes->OpenGameProcess(found);
  ASSERT_NE(memory, nullptr);

  MatchState state;
  bool resolved = false;
  for (int i = 0; i < 100 && !resolved; ++i) {  // until the stand-in has laid out its memory
    Sleep(50);
    RecordingConsole quiet;
    resolved = ResolveGameAddresses(*memory, state, quiet);
  }
  ASSERT_TRUE(resolved);

  game.Send("own 76561197960287930\n");
  uint64_t ownId = 0;
  for (int i = 0; i < 100 && ownId != 76561197960287930ULL; ++i) {
    Sleep(50);
    ASSERT_TRUE(memory->Read(state.Addresses().ownId, &ownId, sizeof(ownId)));
  }
  EXPECT_EQ(ownId, 76561197960287930ULL);
}

}  // namespace
}  // namespace palisard

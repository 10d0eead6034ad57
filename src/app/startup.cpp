#include "app/startup.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "admin/admin_client.h"
#include "admin/admin_service.h"
#include "app/block_desk.h"
#include "app/console.h"
#include "app/exit_paths.h"
#include "app/host_duties.h"
#include "app/open_files.h"
#include "app/process_objects.h"
#include "app/settings.h"
#include "app/version_check.h"
#include "app/web_actions.h"
#include "app/window_title.h"
#include "common/console_output.h"
#include "common/ipv4.h"
#include "common/memory.h"
#include "common/secure_random.h"
#include "common/version.h"
#include "game/game_watcher.h"
#include "game/process_memory.h"
#include "net/local_addresses.h"
#include "web/web_console.h"

namespace palisard {
namespace {

void PrintBanner() {
  Print("Palisard Server Tool version %s\n", kProgramVersion);
  Print("Author: https://steamcommunity.com/id/palisard\n");
  Print("Group: https://steamcommunity.com/groups/palisard\n");
  Print("Note: Make sure you port-forward the admin port!\n");
  Print("\n");
}

// Descriptors kept for everything but served connections: the listeners,
// the firewall, the clients' own connections, connections closed at once
// for being over a cap.
constexpr std::size_t kOtherDescriptors = 64;

struct ConnectionCaps {
  AdminService::Limits admin;
  WebConsole::Limits web;
};

// Every served connection holds a descriptor: under a low limit the admin
// port's pool for the players gives way (the strangers' pool is small), so
// that the caps are met before the limit is.
ConnectionCaps CapsFor(std::size_t openFiles) {
  ConnectionCaps caps;
  const std::size_t reserved = caps.web.maxConnections + caps.admin.maxStrangerConnections + kOtherDescriptors;
  const std::size_t room = openFiles > reserved ? openFiles - reserved : 0;
  caps.admin.maxConnections = std::max<std::size_t>(std::min(caps.admin.maxConnections, room), 8);
  return caps;
}

void RunAdminService(AdminService::Limits limits) {
  AdminService service(TheMatchState(), TheFirewall(), SystemClock(), limits);
  // The listener is open (start-up stops otherwise): the loop runs for ever.
  (void)service.AdminAcceptLoop(AdminListener());
}

// 128 bits from the system's generator as 32 hex characters; empty when
// the generator failed.
std::string NewConsoleKey() {
  unsigned char bytes[16];
  if (!SecureRandomBytes(bytes, sizeof(bytes))) return "";
  std::string key;
  for (unsigned char byte : bytes) {
    key += "0123456789abcdef"[byte >> 4];
    key += "0123456789abcdef"[byte & 0xF];
  }
  return key;
}

// The blocks in force over the shared firewall and match; the console's
// thread and the web console's threads each have one.
BlockDesk MakeBlockDesk() {
  return BlockDesk(TheFirewall(), TheMatchState(), SystemClock(), [](uint64_t communityId) {
    return TheBanService().streaming && TheBanService().IsBanned(communityId).value_or(false);
  });
}

void RunWebConsole(WebConsole::Limits limits, WebConsole::SecondScreen secondScreen) {
  WebActions actions(TheMatchState(), TheBanService(), TheFirewall(), TheAdminClient(), SystemClock());
  BlockDesk blocks = MakeBlockDesk();
  WebConsole console(
      TheMatchState(), [&](const std::string& path) { return actions.ReportPlayer(path); },
      [&](const std::string& path) { return actions.VoteKickPlayer(path); }, limits, std::move(secondScreen));
  console.ServeBlocks([&] { return BlockRows(blocks); },
                      [&](const std::string& path) { return UnblockPlayer(blocks, path); });
  // The listener is open (start-up stops otherwise): the loop runs for ever.
  (void)console.HttpAcceptLoop(HttpListener());
}

void RunGameWatcher() {
  std::unique_ptr<GameProcesses> processes = CreateSystemGameProcesses();
  BanServiceList bans(TheBanService());
  FirewallBlocker blocker(TheFirewall(), SystemClock());
  HostDuties duties(TheMatchState(), bans, blocker);
  GameWatcher watcher(
      TheMatchState(), *processes, SystemClock(), [](const std::string& title) { SetWindowTitle(title.c_str()); },
      duties);
  // The watcher's thread starts the host probe before it looks for the game.
  std::thread([] { TheAdminClient().HostProbeThread(); }).detach();
  watcher.Run();
}

// Standard input has ended: keep serving until a signal or the console's
// close event ends the process.
[[noreturn]] void IdleForever() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

int RunPalisard() {
  UseOneHeapForAllThreads();
  const ConnectionCaps caps = CapsFor(RaiseOpenFileLimit());
  InstallExitHandler();
  InstallConsoleCtrlHandler();
  SetWindowTitle("Palisard: Initializing");
  InstallCrashFilter();
  PrintBanner();

  Settings settings = ReadSettings(SettingsPath());
  BanService& banService = TheBanService();
  banService.SetHost(settings.overrideHost);

  if (!IsAdminPortInRange(settings.adminPort)) {
    Print("Admin port is out of range ( %i ), Must be %i-%i\n", settings.adminPort, kFirstAdminPort, kLastAdminPort);
    return 0;
  }
  if (!IsHttpPortInRange(settings.httpPort)) {
    Print("Http port is out of range ( %i ), Must be %i-%i\n", settings.httpPort, 1, 65535);
    return 0;
  }

  const Result firewallOpened = TheFirewall().Initialize();
  if (!firewallOpened.ok()) {
    Print("Error initializing firewall: %x\n", static_cast<unsigned>(firewallOpened.code()));
    return 0;
  }

  if (!AdminListener().Initialize(static_cast<uint16_t>(settings.adminPort)).ok()) return 0;
  // The console serves this machine's player alone, unless asked to serve
  // his other screens too: then only requests that bring the key, which is
  // new at every start and printed nowhere else.
  WebConsole::SecondScreen secondScreen;
  if (settings.consoleKey != 0) {
    secondScreen.key = NewConsoleKey();
    if (secondScreen.key.empty()) Print("Console for another screen: no secure random key, this machine only.\n");
  }
  if (!HttpListener()
           .Initialize(static_cast<uint16_t>(settings.httpPort), StandardOutput(),
                       secondScreen.key.empty() ? Listener::Reach::kLoopbackOnly : Listener::Reach::kEveryInterface)
           .ok()) {
    return 0;
  }
  if (!secondScreen.key.empty()) {
    secondScreen.addresses = LocalIpv4Addresses();
    for (uint32_t address : secondScreen.addresses) {
      Print("Console for another screen: http://%s:%i/?key=%s\n", DottedAddress(address).c_str(), settings.httpPort,
            secondScreen.key.c_str());
    }
  }

  banService.streaming = settings.banStreaming != 0;
  Print("BanService is%s streaming.\n", banService.streaming ? "" : " not");

  if (settings.checkForUpdates != 0) {
    CheckVersion(settings.overrideHost, *CreateSystemUpdatePrompt(), VersionCheckOptions{});
  }

  // Long-running threads, in this order: admin accept loop, web accept loop,
  // vote-count poller, game watcher. None is ever joined.
  std::thread(RunAdminService, caps.admin).detach();
  std::thread(RunWebConsole, caps.web, std::move(secondScreen)).detach();
  std::thread([] { TheAdminClient().VoteCountThread(); }).detach();
  std::thread(RunGameWatcher).detach();

  BlockDesk blocks = MakeBlockDesk();
  if (RunConsole(stdin, TheMatchState(), blocks) == ConsoleEnd::kEndOfInput) IdleForever();
  return 0;
}

}  // namespace palisard

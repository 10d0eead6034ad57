#include <windows.h>

#include "app/exit_paths.h"

namespace palisard {
namespace {

BOOL WINAPI OnConsoleCtrl(DWORD controlType) {
  switch (controlType) {
    case CTRL_CLOSE_EVENT:
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      RemoveBlocksBeforeExit();
      break;
    default:
      break;
  }
  // The system's default handling follows and ends the process.
  return FALSE;
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS*) {
  RemoveBlocksBeforeExit(std::chrono::seconds(1));
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void InstallConsoleCtrlHandler() { SetConsoleCtrlHandler(OnConsoleCtrl, TRUE); }

void InstallCrashFilter() {
  SetUnhandledExceptionFilter(OnUnhandledException);
  InstallTerminateHook();
}

}  // namespace palisard

// <windows.h> must come before the other system headers.
#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include <memory>

#include "core/free_with.h"
#include "core/text.h"

#include "cli/console.h"

namespace brisal::cli {

namespace {

// The console control handler gets no context argument, so the flags it raises have
// to be reachable from here; set once, before any thread starts.
std::atomic<bool>* g_cancel = nullptr;
std::atomic<bool>* g_interrupted = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
    if (g_interrupted) g_interrupted->store(true);
    if (g_cancel) g_cancel->store(true);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

void InterceptInterrupt(std::atomic<bool>& cancel, std::atomic<bool>& interrupted) {
  g_cancel = &cancel;
  g_interrupted = &interrupted;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool IsTerminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

void PrepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  OwningPtr<LPWSTR, LocalFree> wide(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i)
    args.push_back(WideToUtf8(wide.get()[i]));
  return args;
}

}  // namespace brisal::cli

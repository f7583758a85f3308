// The stand-in for a renderer's client in the Windows end-to-end run and demo. The
// launcher starts it from the install folder; it writes down how it was started
// (its renderer from its own file name, its current folder, and its arguments as a
// Windows program splits them) to %BRISAL_DEMO_STARTED%, else started.txt in the
// folder it runs in, and exits.
//
// With the single argument --close-launcher it instead asks the running launcher's
// window to close, as the system does (WM_CLOSE), and exits; with --cancel-mode it
// interrupts whatever the window is doing with the mouse, as the system does when a
// dialog or Alt+Tab comes between a press and its release (WM_CANCELMODE).
#include <windows.h>
// After <windows.h>, whose types it uses.
#include <shellapi.h>

#include <string>

#include "core/text.h"

namespace {

std::wstring ModulePath() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return std::wstring(buffer, length);
}

std::wstring CurrentFolder() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, buffer);
  return std::wstring(buffer, length < MAX_PATH ? length : 0);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command_line, int) {
  const std::wstring command = command_line;
  if (command == L"--close-launcher" || command == L"--cancel-mode") {
    HWND launcher = FindWindowW(L"BrisalLauncherWnd", nullptr);
    if (launcher == nullptr) return 1;
    if (command == L"--cancel-mode")
      return SendMessageW(launcher, WM_CANCELMODE, 0, 0) == 0 ? 0 : 1;
    return PostMessageW(launcher, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  const std::wstring self = ModulePath();
  const wchar_t* renderer = self.find(L"_DX") != std::wstring::npos ? L"DX" : L"GL";
  std::wstring record = L"renderer=" + std::wstring(renderer) + L"\ncwd=" + CurrentFolder() + L"\n";
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  record += L"argc=" + std::to_wstring(argc > 0 ? argc - 1 : 0) + L"\n";
  for (int i = 1; i < argc; ++i)
    record += L"arg=" + std::wstring(argv[i]) + L"\n";
  if (argv != nullptr) LocalFree(argv);

  wchar_t target[MAX_PATH] = L"started.txt";
  GetEnvironmentVariableW(L"BRISAL_DEMO_STARTED", target, MAX_PATH);
  // Written whole under another name, then moved, so a reader never sees half of it.
  const std::wstring temporary = std::wstring(target) + L".tmp";
  const std::string bytes = brisal::WideToUtf8(record);
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || !MoveFileExW(temporary.c_str(), target, MOVEFILE_REPLACE_EXISTING)) return 1;
  return 0;
}

#include "tests/support/wine_unix.h"

#include <windows.h>

#include "core/text.h"

namespace brisal::testing {

namespace {

// Wine's own exports; absent on Windows.
template <typename Function>
Function WineExport(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

std::wstring WineDosPath(const char* unix_path) {
  const auto to_dos = WineExport<wchar_t*(CDECL*)(const char*)>("wine_get_dos_file_name");
  wchar_t* dos_path = to_dos ? to_dos(unix_path) : nullptr;
  if (!dos_path) return {};
  std::wstring result = dos_path;
  HeapFree(GetProcessHeap(), 0, dos_path);
  return result;
}

}  // namespace

std::string WineUnixPath(const std::string& path) {
  const auto to_unix = WineExport<char*(CDECL*)(const wchar_t*)>("wine_get_unix_file_name");
  char* unix_path = to_unix ? to_unix(Utf8ToWide(path).c_str()) : nullptr;
  if (!unix_path) return {};
  std::string result = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

bool StartLinuxProgram(const char* program, const std::string& arguments) {
  const std::wstring dos = WineDosPath(program);
  if (dos.empty()) return false;
  std::wstring command = Utf8ToWide(program) + L" " + Utf8ToWide(arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(dos.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  // Should Wine ever give handles, none is kept.
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) CloseHandle(process.hProcess);
  return true;
}

}  // namespace brisal::testing

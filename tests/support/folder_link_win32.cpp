#include <windows.h>

#include <chrono>
#include <thread>

#include "core/text.h"
#include "tests/support/folder_link.h"

namespace brisal::testing {

namespace {

bool IsReparsePoint(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Where Wine keeps `path` on the Linux side; empty outside Wine.
std::string UnixPath(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  const auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unix_path = to_unix ? to_unix(path.c_str()) : nullptr;
  if (!unix_path) return {};
  std::string result = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

std::wstring DosPath(const char* unix_path) {
  using ToDos = wchar_t*(CDECL*)(const char*);
  const auto to_dos = reinterpret_cast<ToDos>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  wchar_t* dos_path = to_dos ? to_dos(unix_path) : nullptr;
  if (!dos_path) return {};
  std::wstring result = dos_path;
  HeapFree(GetProcessHeap(), 0, dos_path);
  return result;
}

// Runs a Linux program through Wine's own launch, which gives no handle to wait on:
// the caller waits for its effect instead.
bool RunLinux(const char* program, const std::wstring& arguments) {
  const std::wstring dos = DosPath(program);
  if (dos.empty()) return false;
  std::wstring command = Utf8ToWide(program) + L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(dos.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) CloseHandle(process.hProcess);
  return true;
}

bool WaitFor(bool reparse_point, const std::wstring& path) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (IsReparsePoint(path) != reparse_point) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::wstring Quoted(const std::string& unix_path) {
  return L"\"" + Utf8ToWide(unix_path) + L"\"";
}

}  // namespace

FolderLink::FolderLink(std::string link, const std::string& target) : link_(std::move(link)) {
  const std::wstring wide_link = Utf8ToWide(link_), wide_target = Utf8ToWide(target);
  // Wine answers TRUE and makes nothing, hence the look afterwards.
  if (CreateSymbolicLinkW(wide_link.c_str(), wide_target.c_str(),
                          SYMBOLIC_LINK_FLAG_DIRECTORY |
                              SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
      IsReparsePoint(wide_link)) {
    made_ = true;
    return;
  }
  const std::string unix_link = UnixPath(wide_link), unix_target = UnixPath(wide_target);
  made_ = !unix_link.empty() && !unix_target.empty() &&
          RunLinux("/bin/ln", L"-s " + Quoted(unix_target) + L" " + Quoted(unix_link)) &&
          WaitFor(true, wide_link);
}

FolderLink::~FolderLink() {
  if (!made_) return;
  const std::wstring wide_link = Utf8ToWide(link_);
  if (RemoveDirectoryW(wide_link.c_str())) return;
  const std::string unix_link = UnixPath(wide_link);
  if (!unix_link.empty() && RunLinux("/bin/rm", L"-f " + Quoted(unix_link))) {
    WaitFor(false, wide_link);
  }
}

}  // namespace brisal::testing

// Win32 backend of process.h.
#include <windows.h>

#include <vector>

#include "core/long_path_win32.h"
#include "core/text.h"
#include "launch/process.h"

namespace brisal::platform {

namespace {

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

 private:
  HANDLE handle_;
};

// The name CreateProcessW is given for the program. Unlike the file calls, it takes no
// "\\?\" path and none past MAX_PATH, on Windows as under Wine; a deeper client is
// started by its 8.3 short name, where the volume gives short names. Otherwise the
// plain path, and the system says why it cannot start.
std::wstring ApplicationName(const std::string& exe_path) {
  std::wstring plain = Utf8ToWide(exe_path);
  if (plain.size() < MAX_PATH) return plain;
  const std::wstring long_form = LongPath(exe_path);
  std::vector<wchar_t> buffer(long_form.size() + 1);
  const DWORD n =
      GetShortPathNameW(long_form.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return plain;
  std::wstring short_form(buffer.data(), n);
  if (short_form.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    short_form = L"\\\\" + short_form.substr(8);
  } else if (short_form.compare(0, 4, L"\\\\?\\") == 0) {
    short_form.erase(0, 4);
  }
  return short_form.size() < MAX_PATH ? short_form : plain;
}

}  // namespace

bool IsAbsoluteInstallDir(const std::string& path) {
  const std::wstring wide = Utf8ToWide(path);
  return wide.size() > 1 && (wide[1] == L':' || (wide[0] == L'\\' && wide[1] == L'\\'));
}

bool StartProcess(const std::string& exe_path, const std::string& client_args,
                  const std::string& working_dir, std::uint32_t& system_error) {
  // The client reads its own path from the command line, in the form it knows.
  const std::wstring application = ApplicationName(exe_path);
  // The arguments are the operator's, written for the client's own parser: they are
  // passed on exactly as configured, with no quoting added.
  std::wstring command_line = L"\"" + Utf8ToWide(exe_path) + L"\"";
  if (!client_args.empty()) command_line += L" " + Utf8ToWide(client_args);
  // CreateProcessW may write into the command line, so it gets a buffer of its own.
  std::vector<wchar_t> buffer(command_line.begin(), command_line.end());
  buffer.push_back(L'\0');
  const std::wstring folder = Utf8ToWide(working_dir);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(application.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
    system_error = GetLastError();
    return false;
  }
  // The launcher never waits for the client or watches it.
  ScopedHandle process_handle(process.hProcess);
  ScopedHandle thread_handle(process.hThread);
  return true;
}

}  // namespace brisal::platform

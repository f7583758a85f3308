// Win32 backend of process.h.
#include <windows.h>

#include <vector>

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

}  // namespace

bool IsAbsoluteInstallDir(const std::string& path) {
  const std::wstring wide = Utf8ToWide(path);
  return wide.size() > 1 && (wide[1] == L':' || (wide[0] == L'\\' && wide[1] == L'\\'));
}

bool StartProcess(const std::string& exe_path, const std::string& client_args,
                  const std::string& working_dir, std::uint32_t& system_error) {
  const std::wstring application = Utf8ToWide(exe_path);
  // The arguments are the operator's, written for the client's own parser: they are
  // passed on exactly as configured, with no quoting added.
  std::wstring command_line = L"\"" + application + L"\"";
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

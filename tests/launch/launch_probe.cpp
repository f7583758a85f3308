// A stand-in game client for the launch tests: records how it was started (its
// arguments, the folder it runs in, its process id and, on Windows, the raw command
// line) in probe-out.json beside itself, then exits.
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "core/paths.h"
#include "core/text.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

std::string CurrentFolder() {
  std::u8string text = std::filesystem::current_path().u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

int main(int argc, char** argv) {
  nlohmann::json record;
  record["cwd"] = CurrentFolder();
#ifdef _WIN32
  // The C runtime's argv is in the ANSI code page; the wide command line is what
  // CreateProcessW handed over.
  record["command_line"] = brisal::WideToUtf8(GetCommandLineW());
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  record["argv"] = nlohmann::json::array();
  for (int i = 0; words != nullptr && i < count; ++i) {
    record["argv"].push_back(brisal::WideToUtf8(words[i]));
  }
  LocalFree(words);
  record["pid"] = static_cast<unsigned long>(GetCurrentProcessId());
  (void)argc;
  (void)argv;
#else
  record["argv"] = std::vector<std::string>(argv, argv + argc);
  record["pid"] = static_cast<long>(getpid());
  // Descriptors beyond the standard three that the launcher let through.
  record["inherited_fds"] = nlohmann::json::array();
  for (int fd = 3; fd < 256; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) record["inherited_fds"].push_back(fd);
  }
#endif
  // Written through a rename, so the waiting test never reads half a record.
  return brisal::WriteFileAtomic(brisal::JoinPath(brisal::ExeFolder(), "probe-out.json"),
                                 record.dump())
             ? 0
             : 1;
}

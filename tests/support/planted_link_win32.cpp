#include <windows.h>

#include <chrono>
#include <thread>

#include "core/text.h"
#include "tests/support/planted_link.h"
#include "tests/support/wine_unix.h"

namespace brisal::testing {

namespace {

bool IsReparsePoint(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool WaitFor(bool reparse_point, const std::wstring& path) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (IsReparsePoint(path) != reparse_point) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string Quoted(const std::string& unix_path) {
  return "\"" + unix_path + "\"";
}

}  // namespace

PlantedLink::PlantedLink(std::string link, const std::string& target) : link_(std::move(link)) {
  const std::wstring wide_link = Utf8ToWide(link_), wide_target = Utf8ToWide(target);
  // Wine answers TRUE and makes nothing, hence the look afterwards.
  if (CreateSymbolicLinkW(wide_link.c_str(), wide_target.c_str(),
                          SYMBOLIC_LINK_FLAG_DIRECTORY |
                              SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
      IsReparsePoint(wide_link)) {
    made_ = true;
    return;
  }
  const std::string unix_link = WineUnixPath(link_), unix_target = WineUnixPath(target);
  made_ = !unix_link.empty() && !unix_target.empty() &&
          StartLinuxProgram("/bin/ln", "-s " + Quoted(unix_target) + " " + Quoted(unix_link)) &&
          WaitFor(true, wide_link);
}

PlantedLink::~PlantedLink() {
  if (!made_) return;
  const std::wstring wide_link = Utf8ToWide(link_);
  if (RemoveDirectoryW(wide_link.c_str())) return;
  const std::string unix_link = WineUnixPath(link_);
  if (!unix_link.empty() && StartLinuxProgram("/bin/rm", "-f " + Quoted(unix_link))) {
    WaitFor(false, wide_link);
  }
}

}  // namespace brisal::testing

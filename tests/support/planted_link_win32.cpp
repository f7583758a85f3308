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

// Where Wine's Linux link should lead: the Linux path of a full path, a relative one as
// it is.
std::string UnixTarget(const std::string& target) {
  const bool full = (target.size() > 1 && target[1] == ':') ||
                    (!target.empty() && (target[0] == '\\' || target[0] == '/'));
  if (full) return WineUnixPath(target);
  std::string relative = target;
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  return relative;
}

}  // namespace

PlantedLink::PlantedLink(std::string link, const std::string& target, LinkTo kind)
    : link_(std::move(link)) {
  const std::wstring wide_link = Utf8ToWide(link_), wide_target = Utf8ToWide(target);
  const DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE |
                      (kind == LinkTo::kFolder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
  // Wine answers TRUE and makes nothing, hence the look afterwards.
  if (CreateSymbolicLinkW(wide_link.c_str(), wide_target.c_str(), flags) &&
      IsReparsePoint(wide_link)) {
    made_ = true;
    return;
  }
  // Wine shows a Linux link to a file as the file it leads to, with nothing that tells
  // a Windows program it is a link (one to a folder shows as a reparse point): no
  // Windows program could refuse it, so none is planted there.
  if (kind == LinkTo::kFile) return;
  const std::string unix_link = WineUnixPath(link_), unix_target = UnixTarget(target);
  made_ = !unix_link.empty() && !unix_target.empty() &&
          StartLinuxProgram("/bin/ln", "-s " + Quoted(unix_target) + " " + Quoted(unix_link)) &&
          WaitFor(true, wide_link);
}

PlantedLink::~PlantedLink() {
  if (!made_) return;
  const std::wstring wide_link = Utf8ToWide(link_);
  if (RemoveDirectoryW(wide_link.c_str()) || DeleteFileW(wide_link.c_str())) return;
  const std::string unix_link = WineUnixPath(link_);
  if (!unix_link.empty() && StartLinuxProgram("/bin/rm", "-f " + Quoted(unix_link))) {
    WaitFor(false, wide_link);
  }
}

}  // namespace brisal::testing

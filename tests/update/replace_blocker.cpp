#include "tests/update/replace_blocker.h"

#ifdef _WIN32
#include <windows.h>

#include "core/text.h"
#else
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/paths.h"
#endif

namespace brisal::testing {

#ifdef _WIN32

ReplaceBlocker::ReplaceBlocker(const std::string& path) : path_(path) {
  HANDLE h = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    handle_ = reinterpret_cast<std::intptr_t>(h);
    active_ = true;
  }
}

void ReplaceBlocker::Release() {
  if (!active_) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  active_ = false;
}

void MakeReadOnly(const std::string& path) {
  SetFileAttributesW(Utf8ToWide(path).c_str(), FILE_ATTRIBUTE_READONLY);
}

#else

namespace {
constexpr int kImmutable = 1;
constexpr int kReadOnlyFolder = 2;

bool SetImmutable(const std::string& path, bool on) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}
}  // namespace

ReplaceBlocker::ReplaceBlocker(const std::string& path) : path_(path) {
  if (::geteuid() == 0) {
    if (SetImmutable(path, true)) {
      mode_ = kImmutable;
      active_ = true;
    }
    return;
  }
  if (::chmod(ParentPath(path).c_str(), 0555) == 0) {
    mode_ = kReadOnlyFolder;
    active_ = true;
  }
}

void ReplaceBlocker::Release() {
  if (!active_) return;
  if (mode_ == kImmutable) SetImmutable(path_, false);
  if (mode_ == kReadOnlyFolder) ::chmod(ParentPath(path_).c_str(), 0755);
  active_ = false;
}

void MakeReadOnly(const std::string& path) {
  ::chmod(path.c_str(), 0444);
}

#endif

ReplaceBlocker::~ReplaceBlocker() {
  Release();
}

}  // namespace brisal::testing

// POSIX backend of files.h and platform.h.
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/files.h"
#include "core/file_faults.h"
#include "core/file_time_posix.h"
#include "core/paths.h"
#include "core/platform.h"

namespace brisal {

namespace {

// The test seam's failure, with the error number a failing disk gives.
bool Injected(FileOp op) {
  if (!FileOpFails(op)) return false;
  errno = EIO;
  return true;
}

void FillInfo(const struct stat& st, FileInfo& info) {
  info.is_directory = S_ISDIR(st.st_mode);
  info.is_regular = S_ISREG(st.st_mode);
  info.size = static_cast<std::uint64_t>(st.st_size);
  info.mtime = FileTimeOf(st.st_mtim);
}

int Fd(std::intptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

bool IsPathSeparator(char c) {
  return c == '/';
}
char NativePathSeparator() {
  return '/';
}

// POSIX file systems tell "Brisal" from "brisal": two different folders.
bool SamePathText(const std::string& a, const std::string& b) {
  return a == b;
}

std::string FileNameKey(const std::string& name) {
  return name;
}

bool FileNameKeysAreNames() {
  return true;
}

std::size_t ShortestNonRootFolder() {
  return 1;
}

bool GetFileInfo(const std::string& path, FileInfo& info) {
  if (Injected(FileOp::kStat)) return false;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  FillInfo(st, info);
  return true;
}

bool GetFileId(const std::string& path, FileId& id) {
  if (Injected(FileOp::kStat)) return false;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  id = FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

FolderFileInfo::~FolderFileInfo() {
  if (handle_ >= 0) ::close(Fd(handle_));
}

bool FolderFileInfo::Get(const std::string& relative, FileInfo& info) {
  const std::size_t slash = relative.rfind('/');
  const std::string_view folder =
      slash == std::string::npos ? std::string_view() : std::string_view(relative).substr(0, slash);
  if (handle_ < 0 || folder != folder_) {
    if (handle_ >= 0) ::close(Fd(handle_));
    folder_.assign(folder);
    // O_PATH asks nothing of the folder itself but what stat asks of it: search
    // permission on the way.
    const std::string path = folder.empty() ? root_ : JoinPath(root_, folder_);
    handle_ = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  // A folder that cannot be opened gets the plain query, so that the outcome stays
  // GetFileInfo's whatever the reason.
  if (handle_ < 0) return GetFileInfo(JoinPath(root_, relative), info);
  if (Injected(FileOp::kStat)) return false;
  struct stat st;
  const char* name = relative.c_str() + (slash == std::string::npos ? 0 : slash + 1);
  if (::fstatat(Fd(handle_), name, &st, 0) != 0) return false;
  FillInfo(st, info);
  return true;
}

bool FileExists(const std::string& path) {
  FileInfo info;
  return GetFileInfo(path, info) && !info.is_directory;
}

bool IsDirectory(const std::string& path) {
  FileInfo info;
  return GetFileInfo(path, info) && info.is_directory;
}

bool PathMissing(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

bool CreateOneDirectory(const std::string& path) {
  if (Injected(FileOp::kCreateFolder)) return false;
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  return errno == EEXIST && IsDirectory(path);
}

bool RemoveEmptyDirectory(const std::string& path) {
  if (Injected(FileOp::kDelete)) return false;
  return ::rmdir(path.c_str()) == 0;
}

bool DeleteFileAt(const std::string& path) {
  if (Injected(FileOp::kDelete)) return false;
  return ::unlink(path.c_str()) == 0;
}

void ClearReadOnly(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) {
    ::chmod(path.c_str(), (st.st_mode | S_IWUSR) & 07777);
  }
}

ReplaceOutcome ReplaceFileAt(const std::string& from, const std::string& to) {
  if (Injected(FileOp::kRename)) return ReplaceOutcome::kFailed;
  if (::rename(from.c_str(), to.c_str()) == 0) return ReplaceOutcome::kDone;
  if (errno == EACCES || errno == EPERM || errno == EBUSY) return ReplaceOutcome::kRetryable;
  return ReplaceOutcome::kFailed;
}

bool SyncDirectory(const std::string& path) {
  if (Injected(FileOp::kFlush)) return false;
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool File::Open(const std::string& path, Mode mode) {
  Close();
  if (Injected(FileOp::kOpen)) return false;
  // O_NONBLOCK: opening a pipe for reading would otherwise wait for a writer forever.
  // It changes nothing for regular files, the only kind kept.
  int flags = O_CLOEXEC | O_NONBLOCK;
  switch (mode) {
    case Mode::kRead:
      flags |= O_RDONLY;
      break;
    case Mode::kReadWrite:
      flags |= O_RDWR | O_CREAT;
      break;
    case Mode::kCreateWrite:
      // Never through whatever stands at the name: a link there would have its
      // target truncated. What stands there is removed and the file made anew.
      flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
      break;
  }
  int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0 && mode == Mode::kCreateWrite && errno == EEXIST && ::unlink(path.c_str()) == 0) {
    fd = ::open(path.c_str(), flags, 0644);
  }
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return false;
  }
  if (mode != Mode::kCreateWrite) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  handle_ = fd;
  return true;
}

void File::Close() {
  if (handle_ != kInvalid) {
    ::close(Fd(handle_));
    handle_ = kInvalid;
  }
}

std::int64_t File::Read(void* buffer, std::size_t length) {
  while (true) {
    ssize_t n = ::read(Fd(handle_), buffer, length);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

std::int64_t File::Write(const void* data, std::size_t length) {
  if (Injected(FileOp::kWrite)) return -1;
  while (true) {
    ssize_t n = ::write(Fd(handle_), data, length);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

bool File::Seek(std::uint64_t offset) {
  return ::lseek(Fd(handle_), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool File::TruncateHere() {
  if (Injected(FileOp::kWrite)) return false;
  off_t here = ::lseek(Fd(handle_), 0, SEEK_CUR);
  return here >= 0 && ::ftruncate(Fd(handle_), here) == 0;
}

bool File::Size(std::uint64_t& size) const {
  struct stat st;
  if (::fstat(Fd(handle_), &st) != 0) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool File::Sync() {
  if (Injected(FileOp::kFlush)) return false;
  return ::fdatasync(Fd(handle_)) == 0;
}

bool File::Identity(FileId& id) const {
  struct stat st;
  if (::fstat(Fd(handle_), &st) != 0) return false;
  id = FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

namespace platform {

bool ReservesDeviceNames() {
  return false;
}

bool GivesShortNames() {
  return false;
}

std::string ExecutablePath() {
  std::vector<char> buffer(PATH_MAX + 1);
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return std::string();
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

bool UserDataBase(std::string& folder) {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  // The XDG rules ignore relative values.
  if (xdg != nullptr && xdg[0] == '/') {
    folder = xdg;
    return true;
  }
  const char* home = std::getenv("HOME");
  std::string home_dir;
  if (home != nullptr && home[0] != '\0') {
    home_dir = home;
  } else if (const struct passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir) {
    home_dir = pw->pw_dir;
  } else {
    return false;
  }
  folder = JoinPath(JoinPath(home_dir, ".local"), "share");
  EnsureDirectory(folder);
  return true;
}

LocalTime Now() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm_local;
  ::localtime_r(&ts.tv_sec, &tm_local);
  return LocalTime{tm_local.tm_year + 1900, tm_local.tm_mon + 1, tm_local.tm_mday,
                   tm_local.tm_hour,        tm_local.tm_min,     tm_local.tm_sec};
}

void AppendOnce(const std::string& path, const std::string& data) {
  // O_APPEND makes the single write land whole at the end even when other processes
  // append to the same file.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ssize_t ignored = ::write(fd, data.data(), data.size());
  (void)ignored;
  ::close(fd);
}

}  // namespace platform

}  // namespace brisal

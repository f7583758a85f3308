// POSIX backend of install_tree.h: every operation finds the folder of its last name
// without following a link, then acts relative to that folder's handle.
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "core/install_tree.h"
#include "core/file_faults.h"
#include "core/file_time_posix.h"

namespace brisal {

namespace {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(-1); }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Splits "a/b/c" into the folder part "a/b" and the name "c".
void Split(const std::string& relative, std::string& folder, std::string& name) {
  const std::size_t slash = relative.rfind('/');
  if (slash == std::string::npos) {
    folder.clear();
    name = relative;
  } else {
    folder = relative.substr(0, slash);
    name = relative.substr(slash + 1);
  }
}

TreeResult FromErrno(int error) {
  switch (error) {
    case ENOENT:
      return TreeResult::kMissing;
    case ELOOP:
      return TreeResult::kLink;
    default:
      return TreeResult::kFailed;
  }
}

// What a name in `folder` is when open() said it is not a folder: a link or a file.
TreeResult ClassifyNotAFolder(int folder, const char* name) {
  struct stat st;
  if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    return TreeResult::kLink;
  }
  return TreeResult::kFailed;
}

// The step-by-step way down, for kernels without openat2 (before 5.6) or sandboxes
// that refuse it: one folder at a time, none of them a link.
TreeResult WalkDown(Fd& current, const std::string& relative) {
  std::size_t start = 0;
  while (start < relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string segment = relative.substr(start, end - start);
    Fd next(::openat(current.get(), segment.c_str(),
                     O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.ok()) {
      // A link opened with O_PATH | O_NOFOLLOW is "not a folder" rather than a loop.
      if (errno == ENOTDIR) return ClassifyNotAFolder(current.get(), segment.c_str());
      return FromErrno(errno);
    }
    current = std::move(next);
    start = end + 1;
  }
  return TreeResult::kDone;
}

// Opens `relative` (a folder below the root, "" for the root itself) without following
// any link below the root.
TreeResult OpenFolder(const std::string& root, const std::string& relative, Fd& out) {
  Fd base(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!base.ok()) return FromErrno(errno);
  if (relative.empty()) {
    out = std::move(base);
    return TreeResult::kDone;
  }
  if (!ConfinedResolutionRefused()) {
    struct open_how how = {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    Fd found(
        static_cast<int>(::syscall(SYS_openat2, base.get(), relative.c_str(), &how, sizeof how)));
    if (found.ok()) {
      out = std::move(found);
      return TreeResult::kDone;
    }
    if (errno == ENOTDIR) {
      // Which step was a file: walking tells a link from a file in the way.
      TreeResult walked = WalkDown(base, relative);
      return walked == TreeResult::kDone ? TreeResult::kFailed : walked;
    }
    if (errno != ENOSYS && errno != EPERM && errno != EINVAL && errno != E2BIG) {
      return FromErrno(errno);
    }
  }
  TreeResult walked = WalkDown(base, relative);
  if (walked == TreeResult::kDone) out = std::move(base);
  return walked;
}

TreeResult OpenParent(const std::string& root, const std::string& relative, Fd& folder,
                      std::string& name) {
  std::string folder_part;
  Split(relative, folder_part, name);
  return OpenFolder(root, folder_part, folder);
}

void FillEntry(const struct stat& st, TreeEntry& entry) {
  entry.is_link = S_ISLNK(st.st_mode);
  entry.is_directory = S_ISDIR(st.st_mode);
  entry.is_regular = S_ISREG(st.st_mode);
  entry.size = static_cast<std::uint64_t>(st.st_size);
  entry.mtime = FileTimeOf(st.st_mtim);
  entry.id = FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

void Walk(int folder, const std::string& prefix,
          const std::function<void(const std::string&)>& visit) {
  Fd listing_fd(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!listing_fd.ok()) return;
  DIR* listing = ::fdopendir(listing_fd.get());
  if (listing == nullptr) return;
  listing_fd.Release();  // the DIR owns it now
  while (const struct dirent* item = ::readdir(listing)) {
    const std::string_view name(item->d_name);
    if (name == "." || name == "..") continue;
    struct stat st;
    if (::fstatat(::dirfd(listing), item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const std::string relative = prefix.empty() ? std::string(name) : prefix + "/" + item->d_name;
    if (S_ISREG(st.st_mode)) {
      visit(relative);
    } else if (S_ISDIR(st.st_mode)) {
      Fd sub(::openat(::dirfd(listing), item->d_name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (sub.ok()) Walk(sub.get(), relative, visit);
    }
  }
  ::closedir(listing);
}

}  // namespace

TreeResult InstallTree::Stat(const std::string& relative, TreeEntry& entry) const {
  if (FileOpFails(FileOp::kStat)) return TreeResult::kFailed;
  Fd folder;
  std::string name;
  if (TreeResult r = OpenParent(root_, relative, folder, name); r != TreeResult::kDone) return r;
  struct stat st;
  if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return FromErrno(errno);
  FillEntry(st, entry);
  return TreeResult::kDone;
}

TreeResult InstallTree::CreateParents(const std::string& relative) const {
  if (FileOpFails(FileOp::kCreateFolder)) return TreeResult::kFailed;
  Fd current(::open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!current.ok()) return FromErrno(errno);
  std::size_t start = 0;
  for (std::size_t end = relative.find('/'); end != std::string::npos;
       start = end + 1, end = relative.find('/', start)) {
    const std::string segment = relative.substr(start, end - start);
    NotifyFolderOpened(FileOp::kCreateFolder);
    // mkdirat never follows a link in the last place: a link there is EEXIST.
    if (::mkdirat(current.get(), segment.c_str(), 0755) != 0 && errno != EEXIST) {
      return FromErrno(errno);
    }
    Fd next(::openat(current.get(), segment.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.ok()) {
      if (errno == ENOTDIR) return ClassifyNotAFolder(current.get(), segment.c_str());
      return FromErrno(errno);
    }
    current = std::move(next);
  }
  return TreeResult::kDone;
}

TreeResult InstallTree::OpenPartial(const std::string& relative, File& file) const {
  if (FileOpFails(FileOp::kOpen)) return TreeResult::kFailed;
  Fd folder;
  std::string name;
  if (TreeResult r = OpenParent(root_, relative, folder, name); r != TreeResult::kDone) return r;
  NotifyFolderOpened(FileOp::kOpen);
  struct stat st;
  if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) return TreeResult::kFailed;
    if (S_ISREG(st.st_mode) && st.st_nlink == 1) {
      Fd fd(::openat(folder.get(), name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
      struct stat opened;
      // The name may have changed hands between the look and the open.
      if (fd.ok() && ::fstat(fd.get(), &opened) == 0 && S_ISREG(opened.st_mode) &&
          opened.st_nlink == 1 && opened.st_ino == st.st_ino && opened.st_dev == st.st_dev) {
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        file.Close();
        file.handle_ = fd.Release();
        return TreeResult::kDone;
      }
    }
    if (::unlinkat(folder.get(), name.c_str(), 0) != 0 && errno != ENOENT) return FromErrno(errno);
  }
  Fd fd(::openat(folder.get(), name.c_str(),
                 O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
  if (!fd.ok()) return errno == EEXIST ? TreeResult::kFailed : FromErrno(errno);
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  file.Close();
  file.handle_ = fd.Release();
  return TreeResult::kDone;
}

TreeResult InstallTree::Replace(const std::string& from, const std::string& to) const {
  if (FileOpFails(FileOp::kRename)) return TreeResult::kFailed;
  Fd folder;
  std::string from_name;
  if (TreeResult r = OpenParent(root_, from, folder, from_name); r != TreeResult::kDone) return r;
  NotifyFolderOpened(FileOp::kRename);
  std::string to_folder, to_name;
  Split(to, to_folder, to_name);
  // POSIX needs no write permission on the target to rename over it, so a read-only
  // target needs no change of mode first.
  if (::renameat(folder.get(), from_name.c_str(), folder.get(), to_name.c_str()) == 0) {
    return TreeResult::kDone;
  }
  if (errno == EACCES || errno == EPERM || errno == EBUSY) return TreeResult::kRetryable;
  return FromErrno(errno) == TreeResult::kMissing ? TreeResult::kMissing : TreeResult::kFailed;
}

TreeResult InstallTree::RemoveFile(const std::string& relative) const {
  if (FileOpFails(FileOp::kDelete)) return TreeResult::kFailed;
  Fd folder;
  std::string name;
  if (TreeResult r = OpenParent(root_, relative, folder, name); r != TreeResult::kDone) return r;
  NotifyFolderOpened(FileOp::kDelete);
  if (::unlinkat(folder.get(), name.c_str(), 0) == 0) return TreeResult::kDone;
  return errno == ENOENT ? TreeResult::kMissing : TreeResult::kFailed;
}

TreeResult InstallTree::RemoveFolder(const std::string& relative) const {
  if (FileOpFails(FileOp::kDelete)) return TreeResult::kFailed;
  Fd folder;
  std::string name;
  if (TreeResult r = OpenParent(root_, relative, folder, name); r != TreeResult::kDone) return r;
  NotifyFolderOpened(FileOp::kDelete);
  if (::unlinkat(folder.get(), name.c_str(), AT_REMOVEDIR) == 0) return TreeResult::kDone;
  return errno == ENOENT ? TreeResult::kMissing : TreeResult::kFailed;
}

void InstallTree::ForEachFile(const std::function<void(const std::string&)>& visit) const {
  Fd root(::open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (root.ok()) Walk(root.get(), "", visit);
}

bool InstallTree::FreeSpace(std::uint64_t& bytes) const {
  struct statvfs st;
  if (::statvfs(root_.c_str(), &st) != 0) return false;
  bytes = static_cast<std::uint64_t>(st.f_bavail) * static_cast<std::uint64_t>(st.f_frsize);
  return true;
}

TreeResult InstallTree::MakeExecutable(const std::string& relative) const {
  Fd folder;
  std::string name;
  if (TreeResult r = OpenParent(root_, relative, folder, name); r != TreeResult::kDone) return r;
  Fd fd(::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.ok()) return FromErrno(errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return TreeResult::kFailed;
  if (st.st_mode & S_IXUSR) return TreeResult::kDone;
  return ::fchmod(fd.get(), (st.st_mode | S_IXUSR) & 07777) == 0 ? TreeResult::kDone
                                                                 : TreeResult::kFailed;
}

FolderLock::~FolderLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // releases the flock
}

FolderLock::Result FolderLock::Acquire(const std::string& folder) {
  Fd base(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!base.ok()) return Result::kFailed;
  // Opened for reading only: nothing is ever written into it. O_NOFOLLOW and
  // O_NONBLOCK: a link is not followed and a pipe does not wait for a writer.
  const int flags = O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  Fd fd(::openat(base.get(), kLockFileName, flags, 0644));
  struct stat st;
  if (!fd.ok()) {
    // Something that is no regular file (a folder, a link, a socket) holds the name:
    // nothing can be locked there, and going on without a lock is what another
    // engine's lock would forbid, so the folder counts as in use.
    const bool occupied =
        ::fstatat(base.get(), kLockFileName, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode);
    return occupied ? Result::kBusy : Result::kFailed;
  }
  if (::fstat(fd.get(), &st) != 0) return Result::kFailed;
  // A pipe or a device opens, but is no lock either.
  if (!S_ISREG(st.st_mode)) return Result::kBusy;
  // flock belongs to the open file, so a second engine in this very process (a test)
  // is refused just like one in another process.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    return errno == EWOULDBLOCK ? Result::kBusy : Result::kFailed;
  }
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = fd.Release();
  return Result::kHeld;
}

}  // namespace brisal

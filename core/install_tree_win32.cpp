// Win32 backend of install_tree.h: every folder on the way below the root is looked at
// and a reparse point (symbolic link, junction, mount point) refuses the operation; the
// last name is opened with FILE_FLAG_OPEN_REPARSE_POINT, so a link there is acted on
// itself.
// <windows.h> must come before the other system headers.
#include <windows.h>

#include "core/install_tree.h"
#include "core/file_faults.h"
#include "core/long_path_win32.h"
#include "core/paths.h"
#include "core/text.h"

namespace brisal {

namespace {

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (ok()) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  HANDLE Release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }

 private:
  HANDLE h_;
};

// Long paths included: a manifest path may take 240 bytes below the folder.
std::wstring Native(const std::string& root, const std::string& relative) {
  return LongPath(relative.empty() ? root : JoinPath(root, ManifestPathToNative(relative)));
}

TreeResult FromLastError() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return TreeResult::kMissing;
    default:
      return TreeResult::kFailed;
  }
}

// The folders on the way to `relative` (the root excluded, the last name excluded):
// each must exist as a plain folder.
TreeResult CheckTheWay(const std::string& root, const std::string& relative) {
  for (std::size_t slash = relative.find('/'); slash != std::string::npos;
       slash = relative.find('/', slash + 1)) {
    const DWORD attributes = GetFileAttributesW(Native(root, relative.substr(0, slash)).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return FromLastError();
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return TreeResult::kLink;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return TreeResult::kFailed;
  }
  return TreeResult::kDone;
}

// Attributes of the last name itself (GetFileAttributesW does not follow a link).
DWORD LastAttributes(const std::wstring& path) {
  return GetFileAttributesW(path.c_str());
}

// A read-only file cannot be replaced or deleted; a link's own attributes are left.
void MakeDeletable(const std::wstring& path, DWORD attributes) {
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
      !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
}

std::uint64_t Join(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

void Walk(const std::string& root, const std::string& prefix,
          const std::function<void(const std::string&)>& visit) {
  WIN32_FIND_DATAW found;
  const std::wstring pattern = Native(root, prefix) + L"\\*";
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    std::string utf8;
    if (!WideNameToUtf8(name, utf8)) continue;  // no manifest path can name it
    const std::string relative = prefix.empty() ? utf8 : prefix + "/" + utf8;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      Walk(root, relative, visit);
    } else {
      visit(relative);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

TreeResult InstallTree::Stat(const std::string& relative, TreeEntry& entry) const {
  if (FileOpFails(FileOp::kStat)) return TreeResult::kFailed;
  if (TreeResult r = CheckTheWay(root_, relative); r != TreeResult::kDone) return r;
  const std::wstring path = Native(root_, relative);
  Handle h(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.ok()) return FromLastError();
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h.get(), &info)) return TreeResult::kFailed;
  entry.is_link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  entry.is_directory = !entry.is_link && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  entry.is_regular = !entry.is_link && !entry.is_directory;
  entry.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
  entry.mtime = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
  entry.id = FileId{info.dwVolumeSerialNumber, Join(info.nFileIndexHigh, info.nFileIndexLow)};
  return TreeResult::kDone;
}

TreeResult InstallTree::CreateParents(const std::string& relative) const {
  if (FileOpFails(FileOp::kCreateFolder)) return TreeResult::kFailed;
  for (std::size_t slash = relative.find('/'); slash != std::string::npos;
       slash = relative.find('/', slash + 1)) {
    const std::wstring folder = Native(root_, relative.substr(0, slash));
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return FromLastError();
      }
      attributes = GetFileAttributesW(folder.c_str());
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) return FromLastError();
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return TreeResult::kLink;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return TreeResult::kFailed;
  }
  return TreeResult::kDone;
}

TreeResult InstallTree::OpenPartial(const std::string& relative, File& file) const {
  if (FileOpFails(FileOp::kOpen)) return TreeResult::kFailed;
  if (TreeResult r = CheckTheWay(root_, relative); r != TreeResult::kDone) return r;
  const std::wstring path = Native(root_, relative);
  const DWORD flags =
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT;
  const DWORD attributes = LastAttributes(path);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!link && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return TreeResult::kFailed;
    if (!link) {
      Handle h(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, flags, nullptr));
      BY_HANDLE_FILE_INFORMATION info;
      if (h.ok() && GetFileType(h.get()) == FILE_TYPE_DISK &&
          GetFileInformationByHandle(h.get(), &info) && info.nNumberOfLinks == 1 &&
          !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        file.Close();
        file.handle_ = reinterpret_cast<std::intptr_t>(h.Release());
        return TreeResult::kDone;
      }
    }
    // A link (a junction is a folder to the system) or a file with other names.
    MakeDeletable(path, attributes);
    const bool removed = (link && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                             ? RemoveDirectoryW(path.c_str())
                             : DeleteFileW(path.c_str());
    if (!removed && GetLastError() != ERROR_FILE_NOT_FOUND) return TreeResult::kFailed;
  }
  Handle h(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                       CREATE_NEW, flags, nullptr));
  if (!h.ok()) return GetLastError() == ERROR_FILE_EXISTS ? TreeResult::kFailed : FromLastError();
  file.Close();
  file.handle_ = reinterpret_cast<std::intptr_t>(h.Release());
  return TreeResult::kDone;
}

TreeResult InstallTree::Replace(const std::string& from, const std::string& to) const {
  if (FileOpFails(FileOp::kRename)) return TreeResult::kFailed;
  if (TreeResult r = CheckTheWay(root_, from); r != TreeResult::kDone) return r;
  const std::wstring source = Native(root_, from);
  const std::wstring target = Native(root_, to);
  MakeDeletable(target, LastAttributes(target));
  if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return TreeResult::kDone;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
      error == ERROR_LOCK_VIOLATION) {
    return TreeResult::kRetryable;
  }
  return error == ERROR_FILE_NOT_FOUND ? TreeResult::kMissing : TreeResult::kFailed;
}

TreeResult InstallTree::RemoveFile(const std::string& relative) const {
  if (FileOpFails(FileOp::kDelete)) return TreeResult::kFailed;
  if (TreeResult r = CheckTheWay(root_, relative); r != TreeResult::kDone) return r;
  const std::wstring path = Native(root_, relative);
  const DWORD attributes = LastAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FromLastError();
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    // A junction standing for a file is removed itself; a real folder is not a file.
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return TreeResult::kFailed;
    return RemoveDirectoryW(path.c_str()) ? TreeResult::kDone : TreeResult::kFailed;
  }
  MakeDeletable(path, attributes);
  return DeleteFileW(path.c_str()) ? TreeResult::kDone : FromLastError();
}

TreeResult InstallTree::RemoveFolder(const std::string& relative) const {
  if (FileOpFails(FileOp::kDelete)) return TreeResult::kFailed;
  if (TreeResult r = CheckTheWay(root_, relative); r != TreeResult::kDone) return r;
  const std::wstring path = Native(root_, relative);
  const DWORD attributes = LastAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FromLastError();
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return TreeResult::kLink;
  return RemoveDirectoryW(path.c_str()) ? TreeResult::kDone : TreeResult::kFailed;
}

void InstallTree::ForEachFile(const std::function<void(const std::string&)>& visit) const {
  Walk(root_, "", visit);
}

bool InstallTree::FreeSpace(std::uint64_t& bytes) const {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(Utf8ToWide(root_).c_str(), &available, nullptr, nullptr)) return false;
  bytes = available.QuadPart;
  return true;
}

TreeResult InstallTree::MakeExecutable(const std::string& relative) const {
  if (TreeResult r = CheckTheWay(root_, relative); r != TreeResult::kDone) return r;
  const DWORD attributes = LastAttributes(Native(root_, relative));
  if (attributes == INVALID_FILE_ATTRIBUTES) return FromLastError();
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return TreeResult::kLink;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? TreeResult::kFailed : TreeResult::kDone;
}

FolderLock::~FolderLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

FolderLock::Result FolderLock::Acquire(const std::string& folder) {
  const std::wstring path = Native(folder, kLockFileName);
  // A folder or a link (any reparse point) holding the name is no lock: going on
  // without one is what another engine's lock would forbid, so the folder counts as
  // in use.
  const DWORD attributes = LastAttributes(path);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    return Result::kBusy;
  }
  // No sharing at all: a second engine's open fails until this handle is closed, which
  // the system does when the process ends, however it ends.
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_SHARING_VIOLATION ? Result::kBusy : Result::kFailed;
  }
  // What was opened must still be a plain file on a disk (the name may have changed
  // hands since the look above).
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    CloseHandle(h);
    return Result::kBusy;
  }
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return Result::kHeld;
}

}  // namespace brisal

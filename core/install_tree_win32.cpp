// Win32 backend of install_tree.h: like the POSIX one, every change opens the folders
// on the way one name at a time, each relative to the one above and none of them a
// reparse point (symbolic link, junction, mount point), and then acts on the last name
// relative to the folder handle it holds, deleting and renaming by handle. A folder
// swapped for a link once it is open is not followed: the handle still stands for the
// folder that was there. The Win32 file calls take no folder handle, so the names are
// opened, renamed and deleted through ntdll's NtCreateFile and NtSetInformationFile.
// <windows.h> must come before the other system headers.
#include <windows.h>
#include <winternl.h>

#include <utility>
#include <vector>

#include "core/install_tree.h"
#include "core/file_faults.h"
#include "core/long_path_win32.h"
#include "core/paths.h"
#include "core/text.h"

// ntdll exports it; winternl.h leaves it out.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apc_routine,
                                               PVOID apc_context, PIO_STATUS_BLOCK io,
                                               PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS info_class,
                                               BOOLEAN single_entry, PUNICODE_STRING name,
                                               BOOLEAN restart);

namespace brisal {

namespace {

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Reset(INVALID_HANDLE_VALUE); }
  Handle(Handle&& other) noexcept : h_(other.Release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
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
  void Reset(HANDLE h) {
    if (ok()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

// Long paths included: a manifest path may take 240 bytes below the folder.
std::wstring Native(const std::string& root, const std::string& relative) {
  return LongPath(relative.empty() ? root : JoinPath(root, ManifestPathToNative(relative)));
}

TreeResult FromError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return TreeResult::kMissing;
    default:
      return TreeResult::kFailed;
  }
}

TreeResult FromStatus(NTSTATUS status) {
  return FromError(RtlNtStatusToDosError(status));
}

std::uint64_t Join(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

UNICODE_STRING Counted(const std::wstring& name) {
  UNICODE_STRING counted;
  counted.Buffer = const_cast<PWSTR>(name.c_str());
  counted.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  counted.MaximumLength = counted.Length;
  return counted;
}

// Opens `name` (one name, no separator) in `folder`, a reparse point itself rather than
// what it points at. Synchronous, so the handle serves ReadFile and WriteFile too.
NTSTATUS OpenIn(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                ULONG disposition, ULONG options, Handle& out) {
  UNICODE_STRING counted = Counted(name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io;
  HANDLE h = INVALID_HANDLE_VALUE;
  const NTSTATUS status =
      NtCreateFile(&h, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                   share, disposition,
                   options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  if (NT_SUCCESS(status)) out = Handle(h);
  return status;
}

// What the folder's listing says of `name`. Asked besides the opened handle because
// Wine opens a Linux symbolic link as the folder it points at, with no reparse tag on
// the handle; only the listing shows it.
struct Listed {
  DWORD attributes = 0;
  std::uint64_t index = 0;
};

// A folder handle keeps the first name it is asked about as its pattern, so each
// handle here is only ever asked about one name.
NTSTATUS ListedIn(HANDLE folder, const std::wstring& name, Listed& listed) {
  // Room for the entry and the longest name one folder can hold.
  std::vector<unsigned char> buffer(sizeof(FILE_ID_BOTH_DIR_INFORMATION) + 512 * sizeof(wchar_t));
  UNICODE_STRING pattern = Counted(name);
  IO_STATUS_BLOCK io;
  const NTSTATUS status = NtQueryDirectoryFile(
      folder, nullptr, nullptr, nullptr, &io, buffer.data(), static_cast<ULONG>(buffer.size()),
      FileIdBothDirectoryInformation, TRUE, &pattern, TRUE);
  if (!NT_SUCCESS(status)) return status;
  const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFORMATION*>(buffer.data());
  listed.attributes = entry->FileAttributes;
  listed.index = static_cast<std::uint64_t>(entry->FileId.QuadPart);
  return status;
}

// What an opened name is: a link when either its handle or its folder's listing says
// so, or when the listing now names another file (the name changed hands).
struct Opened {
  DWORD attributes = 0;
  std::uint64_t size = 0;
  std::uint64_t mtime = 0;  // FILETIME units
  std::uint64_t index = 0;
  ULONG links = 0;
  bool link = false;
};

template <typename Information>
bool Query(HANDLE h, Information& information, FILE_INFORMATION_CLASS kind) {
  IO_STATUS_BLOCK io;
  return NT_SUCCESS(NtQueryInformationFile(h, &io, &information, sizeof information, kind));
}

// Asked class by class: GetFileInformationByHandle also reads the volume's serial
// number, which costs a hundred times more under Wine and is not needed on the way down.
bool Describe(HANDLE h, Opened& opened) {
  FILE_BASIC_INFORMATION basic;
  FILE_STANDARD_INFORMATION standard;
  FILE_INTERNAL_INFORMATION internal;
  if (!Query(h, basic, FileBasicInformation) || !Query(h, standard, FileStandardInformation) ||
      !Query(h, internal, FileInternalInformation)) {
    return false;
  }
  opened.attributes = basic.FileAttributes;
  opened.mtime = static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart);
  opened.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
  opened.links = standard.NumberOfLinks;
  opened.index = static_cast<std::uint64_t>(internal.IndexNumber.QuadPart);
  return true;
}

TreeResult Look(HANDLE folder, const std::wstring& name, HANDLE h, Opened& opened) {
  if (!Describe(h, opened)) return TreeResult::kFailed;
  opened.link = (opened.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  // Only a folder needs the listing: what Wine opens in a link's place is a folder. (A
  // Linux link to a file it shows as that file, in the listing too; on Windows the
  // handle itself says reparse point.) A file's handle is what is acted on.
  if (opened.link || !(opened.attributes & FILE_ATTRIBUTE_DIRECTORY)) return TreeResult::kDone;
  Listed listed;
  if (!NT_SUCCESS(ListedIn(folder, name, listed))) return TreeResult::kFailed;
  opened.link = (listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || listed.index != opened.index;
  return TreeResult::kDone;
}

// Opens the folder `name` in `folder` for walking on, refusing a link.
TreeResult OpenFolderIn(HANDLE folder, const std::wstring& name, ULONG disposition,
                        Handle& out) {
  Handle next;
  const NTSTATUS status =
      OpenIn(folder, name, kFolderAccess, kShareAll, disposition, FILE_DIRECTORY_FILE, next);
  if (!NT_SUCCESS(status)) {
    Listed listed;
    // A link to a file where a folder should be is still a link.
    if (NT_SUCCESS(ListedIn(folder, name, listed)) &&
        (listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return TreeResult::kLink;
    }
    return FromStatus(status);
  }
  Opened opened;
  if (TreeResult r = Look(folder, name, next.get(), opened); r != TreeResult::kDone) return r;
  if (opened.link) return TreeResult::kLink;
  out = std::move(next);
  return TreeResult::kDone;
}

TreeResult OpenRoot(const std::string& root, Handle& out) {
  // The folder itself may be a link: it is followed.
  out = Handle(CreateFileW(LongPath(root).c_str(), kFolderAccess, kShareAll, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return out.ok() ? TreeResult::kDone : FromError(GetLastError());
}

// Opens the folder that holds `relative`'s last name, and gives that name.
TreeResult OpenParent(const std::string& root, const std::string& relative, Handle& folder,
                      std::wstring& name) {
  if (TreeResult r = OpenRoot(root, folder); r != TreeResult::kDone) return r;
  std::size_t start = 0;
  for (std::size_t end = relative.find('/'); end != std::string::npos;
       start = end + 1, end = relative.find('/', start)) {
    Handle next;
    TreeResult r =
        OpenFolderIn(folder.get(), Utf8ToWide(relative.substr(start, end - start)), FILE_OPEN, next);
    if (r != TreeResult::kDone) return r;
    folder = std::move(next);
  }
  name = Utf8ToWide(relative.substr(start));
  return TreeResult::kDone;
}

NTSTATUS SetInformation(HANDLE h, void* information, ULONG size, FILE_INFORMATION_CLASS kind) {
  IO_STATUS_BLOCK io;
  return NtSetInformationFile(h, &io, information, size, kind);
}

// A read-only file can be neither replaced nor deleted; a link's own attributes are
// left as they are (under Wine they would be its target's).
void MakeDeletable(HANDLE h, const Opened& opened) {
  if (opened.link || !(opened.attributes & FILE_ATTRIBUTE_READONLY)) return;
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = opened.attributes & ~FILE_ATTRIBUTE_READONLY;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
}

NTSTATUS DeleteByHandle(HANDLE h) {
  FILE_DISPOSITION_INFORMATION disposition{};
  disposition.DoDeleteFile = TRUE;
  return SetInformation(h, &disposition, sizeof disposition, FileDispositionInformation);
}

// The name the system knows `h` by, from the volume's root. (Wine's
// GetFinalPathNameByHandleW gives up past MAX_PATH.)
std::wstring PathOf(HANDLE h) {
  // Room for the longest path there is.
  std::vector<unsigned char> buffer(sizeof(FILE_NAME_INFORMATION) + 32768 * sizeof(wchar_t));
  IO_STATUS_BLOCK io;
  if (!NT_SUCCESS(NtQueryInformationFile(h, &io, buffer.data(), static_cast<ULONG>(buffer.size()),
                                         FileNameInformation))) {
    return {};
  }
  const auto* name = reinterpret_cast<const FILE_NAME_INFORMATION*>(buffer.data());
  return std::wstring(name->FileName, name->FileNameLength / sizeof(wchar_t));
}

// Whether `h`, opened relative to `folder`, is still known by a name in it. Wine renames
// by the path names its handles were opened under rather than by the handles, so a
// folder swapped for a link in between would be followed there; Windows keeps both
// names true across renames, so this only ever refuses a swap.
bool StillIn(HANDLE folder, HANDLE h) {
  std::wstring folder_path = PathOf(folder);
  const std::wstring path = PathOf(h);
  if (folder_path.empty() || path.empty()) return false;
  // A volume's root is "\" itself.
  if (!folder_path.empty() && folder_path.back() == L'\\') folder_path.pop_back();
  const std::size_t slash = path.rfind(L'\\');
  return slash != std::wstring::npos &&
         CompareStringOrdinal(path.c_str(), static_cast<int>(slash), folder_path.c_str(),
                              static_cast<int>(folder_path.size()), TRUE) == CSTR_EQUAL;
}

// Opens `name` in `folder` itself, for deleting, and looks at it.
TreeResult OpenToDelete(HANDLE folder, const std::wstring& name, ULONG options, Handle& h,
                        Opened& opened) {
  const NTSTATUS status = OpenIn(folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 kShareAll, FILE_OPEN, options, h);
  if (!NT_SUCCESS(status)) return FromStatus(status);
  return Look(folder, name, h.get(), opened);
}

// Opens `relative` below `root` for deleting by handle, relative to its folder held
// open, and looks at it.
TreeResult OpenPathToDelete(const std::string& root, const std::string& relative, ULONG options,
                            Handle& h, Opened& opened) {
  Handle folder;
  std::wstring name;
  if (TreeResult r = OpenParent(root, relative, folder, name); r != TreeResult::kDone) return r;
  NotifyFolderOpened(FileOp::kDelete);
  return OpenToDelete(folder.get(), name, options, h, opened);
}

// Opens `relative` below `root` only to look at it, a link itself rather than where it
// leads.
TreeResult LookAt(const std::string& root, const std::string& relative, Handle& h,
                  Opened& opened) {
  Handle folder;
  std::wstring name;
  if (TreeResult r = OpenParent(root, relative, folder, name); r != TreeResult::kDone) return r;
  const NTSTATUS status =
      OpenIn(folder.get(), name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0, h);
  if (!NT_SUCCESS(status)) return FromStatus(status);
  return Look(folder.get(), name, h.get(), opened);
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
  Handle h;
  Opened opened;
  if (TreeResult r = LookAt(root_, relative, h, opened); r != TreeResult::kDone) return r;
  entry.is_link = opened.link;
  entry.is_directory = !entry.is_link && (opened.attributes & FILE_ATTRIBUTE_DIRECTORY);
  entry.is_regular = !entry.is_link && !entry.is_directory;
  entry.size = opened.size;
  entry.mtime = opened.mtime;
  // The identity is compared with File::Identity's, which holds the volume's serial.
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h.get(), &info)) return TreeResult::kFailed;
  entry.id = FileId{info.dwVolumeSerialNumber, Join(info.nFileIndexHigh, info.nFileIndexLow)};
  return TreeResult::kDone;
}

TreeResult InstallTree::CreateParents(const std::string& relative) const {
  if (FileOpFails(FileOp::kCreateFolder)) return TreeResult::kFailed;
  Handle current;
  if (TreeResult r = OpenRoot(root_, current); r != TreeResult::kDone) return r;
  std::size_t start = 0;
  for (std::size_t end = relative.find('/'); end != std::string::npos;
       start = end + 1, end = relative.find('/', start)) {
    NotifyFolderOpened(FileOp::kCreateFolder);
    Handle next;
    TreeResult r = OpenFolderIn(current.get(), Utf8ToWide(relative.substr(start, end - start)),
                                FILE_OPEN_IF, next);
    if (r != TreeResult::kDone) return r;
    current = std::move(next);
  }
  return TreeResult::kDone;
}

TreeResult InstallTree::OpenPartial(const std::string& relative, File& file) const {
  if (FileOpFails(FileOp::kOpen)) return TreeResult::kFailed;
  Handle folder;
  std::wstring name;
  if (TreeResult r = OpenParent(root_, relative, folder, name); r != TreeResult::kDone) return r;
  NotifyFolderOpened(FileOp::kOpen);
  constexpr ACCESS_MASK kReadWrite = GENERIC_READ | GENERIC_WRITE;
  constexpr ULONG kFileOptions = FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY;
  Handle existing;
  NTSTATUS status =
      OpenIn(folder.get(), name, kReadWrite, FILE_SHARE_READ, FILE_OPEN, kFileOptions, existing);
  if (NT_SUCCESS(status)) {
    Opened opened;
    if (Look(folder.get(), name, existing.get(), opened) == TreeResult::kDone && !opened.link &&
        GetFileType(existing.get()) == FILE_TYPE_DISK && opened.links == 1) {
      file.Close();
      file.handle_ = reinterpret_cast<std::intptr_t>(existing.Release());
      return TreeResult::kDone;
    }
    existing.Reset(INVALID_HANDLE_VALUE);
  }
  // A link (a junction is a folder to the system) or a file with other names goes
  // first; a real folder stays and fails the open.
  Handle doomed;
  Opened opened;
  if (OpenToDelete(folder.get(), name, 0, doomed, opened) == TreeResult::kDone) {
    if (!opened.link && (opened.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return TreeResult::kFailed;
    }
    MakeDeletable(doomed.get(), opened);
    if (!NT_SUCCESS(DeleteByHandle(doomed.get()))) return TreeResult::kFailed;
    doomed.Reset(INVALID_HANDLE_VALUE);  // the name goes with the last handle
  }
  Handle created;
  status = OpenIn(folder.get(), name, kReadWrite, FILE_SHARE_READ, FILE_CREATE, kFileOptions,
                  created);
  if (!NT_SUCCESS(status)) {
    return status == static_cast<NTSTATUS>(0xC0000035L)  // STATUS_OBJECT_NAME_COLLISION
               ? TreeResult::kFailed
               : FromStatus(status);
  }
  file.Close();
  file.handle_ = reinterpret_cast<std::intptr_t>(created.Release());
  return TreeResult::kDone;
}

TreeResult InstallTree::Replace(const std::string& from, const std::string& to) const {
  if (FileOpFails(FileOp::kRename)) return TreeResult::kFailed;
  Handle folder;
  std::wstring from_name;
  if (TreeResult r = OpenParent(root_, from, folder, from_name); r != TreeResult::kDone) return r;
  const std::size_t slash = to.rfind('/');
  const std::wstring to_name = Utf8ToWide(slash == std::string::npos ? to : to.substr(slash + 1));
  NotifyFolderOpened(FileOp::kRename);
  {
    Handle target;
    Opened opened;
    if (NT_SUCCESS(OpenIn(folder.get(), to_name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                          kShareAll, FILE_OPEN, 0, target)) &&
        Look(folder.get(), to_name, target.get(), opened) == TreeResult::kDone) {
      MakeDeletable(target.get(), opened);
    }
  }
  Handle source;
  NTSTATUS status = OpenIn(folder.get(), from_name, DELETE | FILE_READ_ATTRIBUTES, kShareAll,
                           FILE_OPEN, 0, source);
  if (NT_SUCCESS(status)) {
    if (!StillIn(folder.get(), source.get())) return TreeResult::kLink;
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFORMATION) +
                                      to_name.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = folder.get();
    rename->FileNameLength = static_cast<ULONG>(to_name.size() * sizeof(wchar_t));
    to_name.copy(rename->FileName, to_name.size());
    status = SetInformation(source.get(), rename, static_cast<ULONG>(buffer.size()),
                            FileRenameInformation);
    if (NT_SUCCESS(status)) return TreeResult::kDone;
  }
  const DWORD error = RtlNtStatusToDosError(status);
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
      error == ERROR_LOCK_VIOLATION) {
    return TreeResult::kRetryable;
  }
  return error == ERROR_FILE_NOT_FOUND ? TreeResult::kMissing : TreeResult::kFailed;
}

TreeResult InstallTree::RemoveFile(const std::string& relative) const {
  if (FileOpFails(FileOp::kDelete)) return TreeResult::kFailed;
  Handle h;
  Opened opened;
  if (TreeResult r = OpenPathToDelete(root_, relative, 0, h, opened); r != TreeResult::kDone) {
    return r;
  }
  // A link standing for a file is removed itself; a real folder is not a file.
  if (!opened.link && (opened.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return TreeResult::kFailed;
  }
  MakeDeletable(h.get(), opened);
  return NT_SUCCESS(DeleteByHandle(h.get())) ? TreeResult::kDone : TreeResult::kFailed;
}

TreeResult InstallTree::RemoveFolder(const std::string& relative) const {
  if (FileOpFails(FileOp::kDelete)) return TreeResult::kFailed;
  Handle h;
  Opened opened;
  if (TreeResult r = OpenPathToDelete(root_, relative, FILE_DIRECTORY_FILE, h, opened);
      r != TreeResult::kDone) {
    return r;
  }
  if (opened.link) return TreeResult::kLink;
  // A folder that is not empty refuses here, not when the handle closes.
  return NT_SUCCESS(DeleteByHandle(h.get())) ? TreeResult::kDone : TreeResult::kFailed;
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
  Handle h;
  Opened opened;
  if (TreeResult r = LookAt(root_, relative, h, opened); r != TreeResult::kDone) return r;
  if (opened.link) return TreeResult::kLink;
  return (opened.attributes & FILE_ATTRIBUTE_DIRECTORY) ? TreeResult::kFailed : TreeResult::kDone;
}

FolderLock::~FolderLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

FolderLock::Result FolderLock::Acquire(const std::string& folder) {
  const std::wstring path = Native(folder, kLockFileName);
  // A folder or a link (any reparse point) holding the name is no lock: going on
  // without one is what another engine's lock would forbid, so the folder counts as
  // in use.
  const DWORD attributes = GetFileAttributesW(path.c_str());
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

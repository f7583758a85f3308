// Win32 backend of files.h and platform.h. Paths arrive as UTF-8 and are converted at
// the system call and nowhere else.
// <windows.h> must come before the other system headers.
#include <windows.h>

#include <shlobj.h>
#include <wchar.h>

#include "core/files.h"
#include "core/file_faults.h"
#include "core/long_path_win32.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"

namespace brisal {

namespace {

// The test seam's failure, with the error number a failing disk gives.
bool Injected(FileOp op) {
  if (!FileOpFails(op)) return false;
  SetLastError(ERROR_WRITE_FAULT);
  return true;
}

HANDLE H(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

bool Attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
  return GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data) != 0;
}

}  // namespace

std::wstring LongPath(const std::string& path) {
  std::wstring wide = Utf8ToWide(path);
  if (wide.size() >= 4 && wide[0] == L'\\' && wide[1] == L'\\' &&
      (wide[2] == L'?' || wide[2] == L'.') && wide[3] == L'\\') {
    return wide;
  }
  const DWORD need = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (need == 0) return wide;
  std::wstring full(need, L'\0');
  const DWORD n = GetFullPathNameW(wide.c_str(), need, full.data(), nullptr);
  if (n == 0 || n >= need) return wide;
  full.resize(n);
  if (full.size() >= 2 && full[0] == L'\\' && full[1] == L'\\') {
    return L"\\\\?\\UNC\\" + full.substr(2);
  }
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  return wide;
}

bool IsPathSeparator(char c) {
  return c == '\\' || c == '/';
}
char NativePathSeparator() {
  return '\\';
}

// NTFS names ignore letter case, so "C:\Juegos" and "c:\JUEGOS" are one folder.
bool SamePathText(const std::string& a, const std::string& b) {
  return _wcsicmp(Utf8ToWide(a).c_str(), Utf8ToWide(b).c_str()) == 0;
}

std::string FileNameKey(const std::string& name) {
  return FoldCase(name);
}

bool FileNameKeysAreNames() {
  return false;
}

std::size_t ShortestNonRootFolder() {
  return 4;
}

bool GetFileInfo(const std::string& path, FileInfo& info) {
  if (Injected(FileOp::kStat)) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!Attributes(path, data)) return false;
  info.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.is_regular = !info.is_directory && !(data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE);
  info.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  info.mtime = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
               data.ftLastWriteTime.dwLowDateTime;
  return true;
}

bool GetFileId(const std::string& path, FileId& id) {
  if (Injected(FileOp::kStat)) return false;
  // No access asked for: only the file's identity is read, and no sharing is denied.
  HANDLE h =
      CreateFileW(LongPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (known) {
    id = FileId{info.dwVolumeSerialNumber,
                (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  }
  return known;
}

FolderFileInfo::~FolderFileInfo() = default;

// Windows has no query relative to an open folder in this API; the plain one it is.
bool FolderFileInfo::Get(const std::string& relative, FileInfo& info) {
  return GetFileInfo(JoinPath(root_, ManifestPathToNative(relative)), info);
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathMissing(const std::string& path) {
  if (GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool CreateOneDirectory(const std::string& path) {
  if (Injected(FileOp::kCreateFolder)) return false;
  if (CreateDirectoryW(LongPath(path).c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(path);
}

bool RemoveEmptyDirectory(const std::string& path) {
  if (Injected(FileOp::kDelete)) return false;
  return RemoveDirectoryW(LongPath(path).c_str()) != 0;
}

bool DeleteFileAt(const std::string& path) {
  if (Injected(FileOp::kDelete)) return false;
  return DeleteFileW(LongPath(path).c_str()) != 0;
}

void ClearReadOnly(const std::string& path) {
  SetFileAttributesW(LongPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
}

ReplaceOutcome ReplaceFileAt(const std::string& from, const std::string& to) {
  if (Injected(FileOp::kRename)) return ReplaceOutcome::kFailed;
  if (MoveFileExW(LongPath(from).c_str(), LongPath(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return ReplaceOutcome::kDone;
  }
  DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
      error == ERROR_LOCK_VIOLATION) {
    return ReplaceOutcome::kRetryable;
  }
  return ReplaceOutcome::kFailed;
}

bool SyncDirectory(const std::string&) {
  if (Injected(FileOp::kFlush)) return false;
  // NTFS journals the rename itself; there is no folder handle to flush.
  return true;
}

bool File::Open(const std::string& path, Mode mode) {
  Close();
  if (Injected(FileOp::kOpen)) return false;
  DWORD access = 0, share = 0, disposition = 0, flags = FILE_ATTRIBUTE_NORMAL;
  switch (mode) {
    case Mode::kRead:
      access = GENERIC_READ;
      share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
      disposition = OPEN_EXISTING;
      flags |= FILE_FLAG_SEQUENTIAL_SCAN;
      break;
    case Mode::kReadWrite:
      access = GENERIC_READ | GENERIC_WRITE;
      share = FILE_SHARE_READ;
      disposition = OPEN_ALWAYS;
      flags |= FILE_FLAG_SEQUENTIAL_SCAN;
      break;
    case Mode::kCreateWrite:
      // Never through whatever stands at the name: CREATE_ALWAYS on a link would
      // truncate its target. What stands there is removed and the file made anew.
      access = GENERIC_WRITE;
      share = 0;
      disposition = CREATE_NEW;
      flags |= FILE_FLAG_OPEN_REPARSE_POINT;
      break;
  }
  const std::wstring wide = LongPath(path);
  HANDLE h = CreateFileW(wide.c_str(), access, share, nullptr, disposition, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE && mode == Mode::kCreateWrite &&
      GetLastError() == ERROR_FILE_EXISTS) {
    // A read-only leftover is made deletable; a link is deleted itself, untouched.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    if (DeleteFileW(wide.c_str())) {
      h = CreateFileW(wide.c_str(), access, share, nullptr, disposition, flags, nullptr);
    }
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  // Pipes, consoles and devices are not files to read or hash.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

void File::Close() {
  if (handle_ != kInvalid) {
    CloseHandle(H(handle_));
    handle_ = kInvalid;
  }
}

std::int64_t File::Read(void* buffer, std::size_t length) {
  DWORD want = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
  DWORD got = 0;
  if (!ReadFile(H(handle_), buffer, want, &got, nullptr)) return -1;
  return got;
}

std::int64_t File::Write(const void* data, std::size_t length) {
  if (Injected(FileOp::kWrite)) return -1;
  DWORD want = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
  DWORD put = 0;
  if (!WriteFile(H(handle_), data, want, &put, nullptr)) return -1;
  return put;
}

bool File::Seek(std::uint64_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(H(handle_), distance, nullptr, FILE_BEGIN) != 0;
}

bool File::TruncateHere() {
  if (Injected(FileOp::kWrite)) return false;
  return SetEndOfFile(H(handle_)) != 0;
}

bool File::Size(std::uint64_t& size) const {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(H(handle_), &value)) return false;
  size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

bool File::Sync() {
  if (Injected(FileOp::kFlush)) return false;
  return FlushFileBuffers(H(handle_)) != 0;
}

bool File::Identity(FileId& id) const {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(H(handle_), &info)) return false;
  id = FileId{info.dwVolumeSerialNumber,
              (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return true;
}

namespace platform {

bool ReservesDeviceNames() {
  return true;
}

bool GivesShortNames() {
  return true;
}

std::string ExecutablePath() {
  wchar_t buffer[520];
  DWORD n = GetModuleFileNameW(nullptr, buffer, 520);
  // A path that does not fit is cut by the system; treat it as unknown.
  if (n == 0 || n >= 520) return std::string();
  return WideToUtf8(std::wstring(buffer, n));
}

bool UserDataBase(std::string& folder) {
  wchar_t buffer[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
    return false;
  }
  folder = WideToUtf8(buffer);
  return true;
}

LocalTime Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

void AppendOnce(const std::string& path, const std::string& data) {
  HANDLE h =
      CreateFileW(LongPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(h);
}

}  // namespace platform

}  // namespace brisal

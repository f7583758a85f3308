#include "core/paths.h"

#include <mutex>

#include "core/files.h"
#include "core/platform.h"

namespace brisal {

namespace {

// The data-folder cache: filled once, at start-up, before any job thread exists. The
// mutex makes a late first call from a worker (tests, the CLI) safe as well.
std::mutex g_data_folder_mutex;
std::string g_data_folder;

}  // namespace

std::string JoinPath(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  if (IsPathSeparator(a.back())) return a + b;
  std::string joined;
  joined.reserve(a.size() + 1 + b.size());
  joined.append(a).push_back(NativePathSeparator());
  joined.append(b);
  return joined;
}

std::string ParentPath(const std::string& p) {
  for (std::size_t i = p.size(); i > 0; --i) {
    if (IsPathSeparator(p[i - 1])) return p.substr(0, i - 1);
  }
  return std::string();
}

std::string ExeFolder() {
  std::string parent = ParentPath(platform::ExecutablePath());
  return parent.empty() ? std::string(".") : parent;
}

std::string DataFolder() {
  std::lock_guard<std::mutex> guard(g_data_folder_mutex);
  if (g_data_folder.empty()) {
    std::string base;
    if (!platform::UserDataBase(base) || base.empty()) base = ExeFolder();
    g_data_folder = JoinPath(base, "BrisalAscent");
    // The path is used even if the folder cannot be made; opens in it then fail.
    EnsureDirectory(g_data_folder);
  }
  return g_data_folder;
}

void OverrideDataFolder(const std::string& folder) {
  std::lock_guard<std::mutex> guard(g_data_folder_mutex);
  g_data_folder = folder;
  EnsureDirectory(g_data_folder);
}

bool EnsureDirectory(const std::string& p) {
  if (p.empty()) return false;
  FileInfo info;
  if (GetFileInfo(p, info)) return info.is_directory;
  std::string parent = ParentPath(p);
  // A drive ("C:") is never created; anything else missing above us is.
  bool is_drive = parent.size() == 2 && parent[1] == ':';
  if (!parent.empty() && !is_drive) EnsureDirectory(parent);
  return CreateOneDirectory(p);
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  File file;
  if (!file.Open(path, File::Mode::kRead)) return false;
  std::uint64_t size = 0;
  if (!file.Size(size)) size = 0;
  if (size > kReadWholeFileLimit) return false;
  std::string data(static_cast<std::size_t>(size), '\0');
  std::size_t got = 0;
  while (got < data.size()) {
    std::int64_t n = file.Read(data.data() + got, data.size() - got);
    if (n <= 0) break;  // a short read is not an error
    got += static_cast<std::size_t>(n);
  }
  data.resize(got);
  out = std::move(data);
  return true;
}

SmallFileRead ReadSmallFile(const std::string& path, std::uint64_t cap, std::string& out) {
  FileInfo info;
  std::string text;
  if (GetFileInfo(path, info) && info.is_regular && info.size <= cap && ReadWholeFile(path, text) &&
      text.size() <= cap) {
    out = std::move(text);
    return SmallFileRead::kRead;
  }
  return PathMissing(path) ? SmallFileRead::kMissing : SmallFileRead::kUnusable;
}

bool WriteFileAtomic(const std::string& path, const std::string& data) {
  const std::string temp = path + ".tmp";
  File file;
  if (!file.Open(temp, File::Mode::kCreateWrite)) return false;
  bool written = data.empty() || file.WriteAll(data.data(), data.size());
  // Without this flush the rename can reach the disk before the data does, and a power
  // cut leaves an empty or zero-filled file in place of the good one.
  if (written) written = file.Sync();
  file.Close();
  if (!written || ReplaceFileAt(temp, path) != ReplaceOutcome::kDone) {
    DeleteFileAt(temp);
    return false;
  }
  std::string folder = ParentPath(path);
  SyncDirectory(folder.empty() ? std::string(".") : folder);
  return true;
}

bool IsWindowsDeviceName(std::string_view name) {
  // The system ignores the extension and the spaces before it: "nul .txt" is NUL.
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ')
    base.remove_suffix(1);
  std::string upper(base);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" ||
      upper == "CONIN$" || upper == "CONOUT$") {
    return true;
  }
  if (upper.size() < 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0)) {
    return false;
  }
  const std::string_view number = std::string_view(upper).substr(3);
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') ||
         number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

bool IsShortNameAlias(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  const std::string_view base = name.substr(0, dot);
  if (dot != std::string_view::npos && name.size() - dot - 1 > 3) return false;
  const std::size_t tilde = base.rfind('~');
  if (base.size() > 8 || tilde == std::string_view::npos || tilde + 1 == base.size()) return false;
  for (char c : base.substr(tilde + 1)) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool IsSafeRelativePath(const std::string& s) {
  if (s.empty() || s.size() > 240 || s[0] == '/') return false;
  std::size_t start = 0;
  while (true) {
    std::size_t end = s.find('/', start);
    if (end == std::string::npos) end = s.size();
    std::string_view segment(s.data() + start, end - start);
    if (segment.empty()) return false;
    // A name ending in a dot or a space is one Windows stores without it; "." and ".."
    // end in a dot, so the same rule keeps every path inside the folder.
    if (segment.back() == '.' || segment.back() == ' ') return false;
    if (platform::ReservesDeviceNames() && IsWindowsDeviceName(segment)) return false;
    // "DATA~1/x.pak" beside "data files/x.pak" would write one file through two names.
    if (platform::GivesShortNames() && IsShortNameAlias(segment)) return false;
    for (char c : segment) {
      auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20) return false;
      switch (c) {
        case '"':
        case '*':
        case ':':
        case '<':
        case '>':
        case '?':
        case '\\':
        case '|':
          return false;
        default:
          break;
      }
    }
    if (end == s.size()) return true;
    start = end + 1;
  }
}

std::string ParentManifestPath(const std::string& relative) {
  const std::size_t slash = relative.rfind('/');
  return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

std::string ManifestPathToNative(const std::string& relative) {
  std::string native = relative;
  const char separator = NativePathSeparator();
  for (char& c : native) {
    if (c == '/') c = separator;
  }
  return native;
}

}  // namespace brisal

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "core/paths.h"

#ifdef _WIN32
#include <windows.h>

#include "core/long_path_win32.h"
#endif

namespace brisal::testing {

namespace fs = std::filesystem;

namespace {

// std::filesystem takes narrow strings in the ANSI code page on Windows; our paths
// are UTF-8.
fs::path FsPath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const fs::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

#ifdef _WIN32
// Removes a folder and what it holds, whatever the depth; a link is removed itself.
void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      SetFileAttributesW(path.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveTree(path);
      } else if (!DeleteFileW(path.c_str())) {
        RemoveDirectoryW(path.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}
#endif

}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  fs::path base = fs::temp_directory_path() /
                  ("brisal-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  fs::create_directories(base);
  path_ = Utf8(base);
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests make files read-only on purpose; make them removable again.
  for (auto it = fs::recursive_directory_iterator(FsPath(path_), ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
#ifdef _WIN32
  // Tests go deeper than MAX_PATH, where std::filesystem cannot follow here.
  RemoveTree(LongPath(path_));
#endif
  fs::remove_all(FsPath(path_), ignored);
}

std::string TempDir::Sub(const std::string& relative) const {
  return JoinPath(path_, ManifestPathToNative(relative));
}

void WriteFile(const std::string& path, const std::string& data) {
  std::string parent = ParentPath(path);
  if (!parent.empty()) {
    ASSERT_TRUE(EnsureDirectory(parent)) << parent;
  }
  std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out.good()) << path;
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const std::string& path) {
  std::string data;
  if (!ReadWholeFile(path, data)) return "<missing>";
  return data;
}

}  // namespace brisal::testing

#include "core/files.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <functional>
#include <utility>

#include "core/install_tree.h"
#include "core/paths.h"
#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include "core/long_path_win32.h"
#endif

namespace brisal {
namespace {

using testing::TempDir;

TEST(FileInfo, ReportsSizeFolderAndAFileTimeOfNow) {
  TempDir dir;
  testing::WriteFile(dir.Sub("f"), "12345");
  FileInfo info;
  ASSERT_TRUE(GetFileInfo(dir.Sub("f"), info));
  EXPECT_FALSE(info.is_directory);
  EXPECT_EQ(info.size, 5u);
  // FILETIME: 100 ns units since 1601. Now is about 11644473600 s after that epoch
  // plus the Unix time.
  auto unix_now = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  std::uint64_t expected = (static_cast<std::uint64_t>(unix_now) + 11644473600ULL) * 10000000ULL;
  EXPECT_NEAR(static_cast<double>(info.mtime), static_cast<double>(expected), 600e7);

  ASSERT_TRUE(GetFileInfo(dir.path(), info));
  EXPECT_TRUE(info.is_directory);
  EXPECT_FALSE(GetFileInfo(dir.Sub("missing"), info));
  EXPECT_TRUE(FileExists(dir.Sub("f")));
  EXPECT_FALSE(FileExists(dir.path()));
}

// The same answers as GetFileInfo on the whole path, whatever order the folders come
// in: a folder left open from the file before must never answer for another one.
TEST(FileInfo, FolderQueriesAnswerAsWholePathsDo) {
  TempDir dir;
  testing::WriteFile(dir.Sub("top"), "1");
  testing::WriteFile(dir.Sub("a/x"), "22");
  testing::WriteFile(dir.Sub("b/x"), "333");
  testing::WriteFile(dir.Sub("a/y"), "4444");
  testing::WriteFile(dir.Sub("a/b/x"), "55555");
  FolderFileInfo folder(dir.path());
  for (const char* path : {"a/x", "b/x", "a/y", "top", "a/b/x", "a/x", "missing/x", "a/missing",
                           "a/b", "b/x/z", "b/x", "a", "top"}) {
    SCOPED_TRACE(path);
    FileInfo expected, got;
    const bool exists = GetFileInfo(dir.Sub(path), expected);
    ASSERT_EQ(folder.Get(path, got), exists);
    if (!exists) continue;
    EXPECT_EQ(got.size, expected.size);
    EXPECT_EQ(got.mtime, expected.mtime);
    EXPECT_EQ(got.is_directory, expected.is_directory);
    EXPECT_EQ(got.is_regular, expected.is_regular);
  }
}

TEST(File, ReadWriteSeekTruncateAndReopenUnchanged) {
  TempDir dir;
  const std::string path = dir.Sub("part");
  {
    File f;
    ASSERT_TRUE(f.Open(path, File::Mode::kReadWrite));
    ASSERT_TRUE(f.WriteAll("hello world", 11));
  }
  File f;
  ASSERT_TRUE(f.Open(path, File::Mode::kReadWrite));  // opened unchanged
  std::uint64_t size = 0;
  ASSERT_TRUE(f.Size(size));
  EXPECT_EQ(size, 11u);
  char buffer[16] = {};
  EXPECT_EQ(f.Read(buffer, 5), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  ASSERT_TRUE(f.TruncateHere());
  ASSERT_TRUE(f.WriteAll("!", 1));
  ASSERT_TRUE(f.Sync());
  ASSERT_TRUE(f.Seek(0));
  EXPECT_EQ(f.Read(buffer, sizeof buffer), 6);
  EXPECT_EQ(std::string(buffer, 6), "hello!");
  EXPECT_EQ(f.Read(buffer, sizeof buffer), 0);

  File moved(std::move(f));
  EXPECT_TRUE(moved.IsOpen());
  EXPECT_FALSE(f.IsOpen());  // NOLINT(bugprone-use-after-move): checks the move
}

TEST(File, OpenFailsOnFoldersAndMissingFiles) {
  TempDir dir;
  File f;
  EXPECT_FALSE(f.Open(dir.Sub("missing"), File::Mode::kRead));
  EXPECT_FALSE(f.Open(dir.path(), File::Mode::kRead));
  EXPECT_FALSE(f.Open(dir.path(), File::Mode::kReadWrite));
  EXPECT_FALSE(f.Open(dir.Sub("no/such/folder/x"), File::Mode::kReadWrite));
}

TEST(ReplaceFileAt, MovesOverTargetsIncludingReadOnlyOnes) {
  TempDir dir;
  testing::WriteFile(dir.Sub("new"), "new");
  testing::WriteFile(dir.Sub("old"), "old");
  EXPECT_EQ(ReplaceFileAt(dir.Sub("new"), dir.Sub("old")), ReplaceOutcome::kDone);
  EXPECT_EQ(testing::ReadFile(dir.Sub("old")), "new");
  EXPECT_FALSE(FileExists(dir.Sub("new")));

  EXPECT_EQ(ReplaceFileAt(dir.Sub("missing"), dir.Sub("old")), ReplaceOutcome::kFailed);
}

TEST(Folders, CreateRemoveAndDelete) {
  TempDir dir;
  EXPECT_TRUE(CreateOneDirectory(dir.Sub("d")));
  EXPECT_TRUE(CreateOneDirectory(dir.Sub("d")));
  testing::WriteFile(dir.Sub("d/f"), "x");
  EXPECT_FALSE(RemoveEmptyDirectory(dir.Sub("d")));
  EXPECT_TRUE(DeleteFileAt(dir.Sub("d/f")));
  EXPECT_FALSE(DeleteFileAt(dir.Sub("d/f")));
  EXPECT_TRUE(RemoveEmptyDirectory(dir.Sub("d")));
  EXPECT_FALSE(IsDirectory(dir.Sub("d")));
}

// Whatever holds the lock file's name and cannot be locked leaves the folder in use:
// going on without a lock would let two engines write one folder.
TEST(FolderLock, ANameThatIsNoRegularFileMeansTheFolderIsInUse) {
  const struct {
    const char* what;
    std::function<bool(const std::string& path, const std::string& outside)> plant;
    FolderLock::Result result;
  } cases[] = {
      {"file", [](const std::string& p, const std::string&) { return WriteFileAtomic(p, ""); },
       FolderLock::Result::kHeld},
      {"folder", [](const std::string& p, const std::string&) { return CreateOneDirectory(p); },
       FolderLock::Result::kBusy},
#ifndef _WIN32
      {"pipe",
       [](const std::string& p, const std::string&) { return ::mkfifo(p.c_str(), 0644) == 0; },
       FolderLock::Result::kBusy},
      {"link",
       [](const std::string& p, const std::string& o) {
         return ::symlink(o.c_str(), p.c_str()) == 0;
       },
       FolderLock::Result::kBusy},
#endif
  };
  for (const auto& c : cases) {
    TempDir dir;
    testing::WriteFile(dir.Sub("outside"), "x");
    ASSERT_TRUE(c.plant(dir.Sub(kLockFileName), dir.Sub("outside"))) << c.what;
    FolderLock lock;
    EXPECT_EQ(lock.Acquire(dir.path()), c.result) << c.what;
    EXPECT_EQ(lock.held(), c.result == FolderLock::Result::kHeld) << c.what;
  }
}

#ifdef _WIN32
// The system takes a "\\?\" path as it is written: a "/" or a ".." left in it would
// name another file or none.
TEST(LongPath, IsAbsoluteAndNormalisedBeforeItsPrefix) {
  const std::pair<const char*, const wchar_t*> cases[] = {
      {"C:\\Juegos\\Cliente\\data\\x.pak", L"\\\\?\\C:\\Juegos\\Cliente\\data\\x.pak"},
      {"C:\\Juegos/Cliente\\data/x.pak", L"\\\\?\\C:\\Juegos\\Cliente\\data\\x.pak"},
      {"C:\\Juegos\\otro\\..\\.\\Cliente", L"\\\\?\\C:\\Juegos\\Cliente"},
      {"\\\\servidor\\juegos\\x.pak", L"\\\\?\\UNC\\servidor\\juegos\\x.pak"},
      {"\\\\?\\C:\\a/b", L"\\\\?\\C:\\a/b"},
  };
  for (const auto& [path, long_form] : cases)
    EXPECT_EQ(LongPath(path), long_form) << path;
}
#endif

}  // namespace
}  // namespace brisal

#include "core/paths.h"

#include <gtest/gtest.h>

#include "core/files.h"
#include "core/platform.h"
#include "tests/support/temp_dir.h"

namespace brisal {
namespace {

using testing::TempDir;

const std::string kSep(1, NativePathSeparator());

TEST(JoinPath, InsertsOneSeparatorOnlyWhenNeeded) {
  EXPECT_EQ(JoinPath("", "x"), "x");
  EXPECT_EQ(JoinPath("a", ""), "a");
  EXPECT_EQ(JoinPath("dir", "x"), "dir" + kSep + "x");
  EXPECT_EQ(JoinPath("dir/", "x"), "dir/x");
  // The second part is used unchanged, "/" inside it included.
  EXPECT_EQ(JoinPath("dir", "sub/x.exe"), "dir" + kSep + "sub/x.exe");
}

TEST(ParentPath, CutsAtTheLastSeparator) {
  EXPECT_EQ(ParentPath("file.txt"), "");
  EXPECT_EQ(ParentPath(""), "");
  EXPECT_EQ(ParentPath("/a/b/"), "/a/b");
  EXPECT_EQ(ParentPath("/a/b/c.txt"), "/a/b");
  EXPECT_EQ(ParentPath("/x"), "");
}

#ifdef _WIN32
TEST(PathsWindows, BothSeparatorsAndDrives) {
  EXPECT_EQ(JoinPath("C:\\dir\\", "x"), "C:\\dir\\x");
  EXPECT_EQ(JoinPath("C:\\dir", "sub/x.exe"), "C:\\dir\\sub/x.exe");
  EXPECT_EQ(ParentPath("C:\\a\\b\\"), "C:\\a\\b");
  EXPECT_EQ(ParentPath("C:\\file"), "C:");
  EXPECT_EQ(ParentPath("C:\\a/b"), "C:\\a");
  EXPECT_EQ(ParentPath("\\\\server\\share\\f"), "\\\\server\\share");
  EXPECT_EQ(ManifestPathToNative("data/x.pak"), "data\\x.pak");
}
#else
TEST(PathsPosix, BackslashIsAnOrdinaryCharacter) {
  EXPECT_EQ(ParentPath("a\\b"), "");
  EXPECT_EQ(JoinPath("a\\", "b"), "a\\/b");
  EXPECT_EQ(ManifestPathToNative("data/x.pak"), "data/x.pak");
}
#endif

TEST(IsSafeRelativePath, AcceptsOrdinaryClientPaths) {
  EXPECT_TRUE(IsSafeRelativePath("data/x.pak"));
  EXPECT_TRUE(IsSafeRelativePath("a b/c.dat"));
  EXPECT_TRUE(IsSafeRelativePath("m\xC3\xBAsica/canci\xC3\xB3n.ogg"));
  EXPECT_TRUE(IsSafeRelativePath(".hidden/x"));
  EXPECT_TRUE(IsSafeRelativePath(std::string(240, 'a')));
}

TEST(IsSafeRelativePath, RefusesAnythingThatCouldLeaveTheFolder) {
  for (const char* bad :
       {"",      "/x",   "x/",   "a//b", "./x", "x/../y", "..",  "a./b", "a /b", "name.",
        "name ", "C:/x", "a\\b", "a|b",  "a?b", "a*b",    "a<b", "a>b",  "a\"b", "a:b"}) {
    EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
  }
  EXPECT_FALSE(IsSafeRelativePath(std::string(241, 'a')));
  EXPECT_FALSE(IsSafeRelativePath(std::string("a\x01", 2)));
  EXPECT_FALSE(IsSafeRelativePath(std::string("a\tb")));
  EXPECT_FALSE(IsSafeRelativePath(std::string("a\x1F" "b")));  // the last control byte
}

// On Windows "COM1" sends the server's bytes to a serial port; elsewhere it is a name.
TEST(IsSafeRelativePath, RefusesDeviceNamesWhereThePlatformHasThem) {
  const bool reserved = platform::ReservesDeviceNames();
  for (const char* device :
       {"CON", "prn", "Aux.pak", "data/nul", "nul .txt", "COM0", "com9.dll", "LPT1/x", "lpt0",
        "CONIN$", "conout$.log", "COM\xC2\xB9", "a/LPT\xC2\xB3.bin"}) {
    EXPECT_EQ(IsSafeRelativePath(device), !reserved) << device;
  }
  for (const char* name : {"CONSOLE", "COM10", "LPT", "NULL.txt", "xcon", "COMA", "con_x", "AUX1"}) {
    EXPECT_TRUE(IsSafeRelativePath(name)) << name;
  }
}

// On Windows "DATA~1" may be the second name of "data files".
TEST(IsSafeRelativePath, RefusesShortNameAliasesWhereThePlatformHasThem) {
  const bool aliased = platform::GivesShortNames();
  for (const char* alias : {"DATA~1/x.pak", "a/data~12.pak", "PROGRA~1", "AB12C~1.TXT", "x/B~9"}) {
    EXPECT_EQ(IsSafeRelativePath(alias), !aliased) << alias;
  }
  for (const char* name :
       {"DATAFILES~1.pak", "data~1x.pak", "data~.pak", "x.pak~1", "data~1.long", "~backup/x"}) {
    EXPECT_TRUE(IsSafeRelativePath(name)) << name;
  }
}

TEST(EnsureDirectory, CreatesMissingParentsAndRefusesFiles) {
  TempDir dir;
  const std::string deep = dir.Sub("a/b/c");
  EXPECT_TRUE(EnsureDirectory(deep));
  EXPECT_TRUE(IsDirectory(dir.Sub("a")));
  EXPECT_TRUE(IsDirectory(deep));
  EXPECT_TRUE(EnsureDirectory(deep));  // already there

  testing::WriteFile(dir.Sub("file"), "x");
  EXPECT_FALSE(EnsureDirectory(dir.Sub("file")));
  EXPECT_FALSE(EnsureDirectory(dir.Sub("file/sub")));
  EXPECT_FALSE(EnsureDirectory(""));
  EXPECT_EQ(testing::ReadFile(dir.Sub("file")), "x");
}

TEST(ReadWholeFile, ReadsExactBytesAndLeavesOutputAloneOnFailure) {
  TempDir dir;
  std::string out = "untouched";
  EXPECT_FALSE(ReadWholeFile(dir.Sub("missing"), out));
  EXPECT_EQ(out, "untouched");
  EXPECT_FALSE(ReadWholeFile(dir.path(), out));  // a folder is not a file
  EXPECT_EQ(out, "untouched");

  testing::WriteFile(dir.Sub("empty"), "");
  EXPECT_TRUE(ReadWholeFile(dir.Sub("empty"), out));
  EXPECT_EQ(out, "");

  std::string binary("a\0b\r\n\xff", 6);
  testing::WriteFile(dir.Sub("bin"), binary);
  EXPECT_TRUE(ReadWholeFile(dir.Sub("bin"), out));
  EXPECT_EQ(out, binary);
}

TEST(ReadWholeFile, ReadsUpToExactlyTheLimit) {
  for (const std::uint64_t size : {kReadWholeFileLimit, kReadWholeFileLimit + 1}) {
    TempDir dir;
    const std::string path = dir.Sub("big");
    {
      File f;
      ASSERT_TRUE(f.Open(path, File::Mode::kCreateWrite));
      // Sparse: only the size matters.
      ASSERT_TRUE(f.Seek(size - 1));
      ASSERT_TRUE(f.WriteAll("x", 1));
    }
    std::string out = "untouched";
    const bool within = size <= kReadWholeFileLimit;
    EXPECT_EQ(ReadWholeFile(path, out), within) << size;
    EXPECT_EQ(out.size(), within ? size : 9u) << size;
  }
}

TEST(WriteFileAtomic, ReplacesWholeAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir.Sub("settings.json");
  EXPECT_TRUE(WriteFileAtomic(path, "first version, longer"));
  EXPECT_TRUE(WriteFileAtomic(path, "second"));
  EXPECT_EQ(testing::ReadFile(path), "second");
  EXPECT_FALSE(FileExists(path + ".tmp"));

  EXPECT_TRUE(WriteFileAtomic(path, ""));
  EXPECT_EQ(testing::ReadFile(path), "");
}

TEST(WriteFileAtomic, FailureKeepsTheOldFileAndCleansUp) {
  TempDir dir;
  // The target is a non-empty folder: the rename must fail.
  const std::string target = dir.Sub("occupied");
  ASSERT_TRUE(EnsureDirectory(JoinPath(target, "inner")));
  EXPECT_FALSE(WriteFileAtomic(target, "data"));
  EXPECT_TRUE(IsDirectory(target));
  EXPECT_FALSE(FileExists(target + ".tmp"));

  // The temporary file cannot be created in a missing folder.
  EXPECT_FALSE(WriteFileAtomic(dir.Sub("no/such/file"), "data"));
}

}  // namespace
}  // namespace brisal

#include "launch/install_dir.h"

#include <gtest/gtest.h>

#include "core/paths.h"
#include "tests/support/temp_dir.h"

namespace brisal {
namespace {

std::string Resolve(const std::string& install_dir) {
  LauncherConfig config = DefaultConfig();
  config.install_dir = install_dir;
  return ResolveInstallDir(config);
}

TEST(ResolveInstallDir, NothingConfiguredMeansTheClientFolderInTheDataFolder) {
  testing::TempDir temp;
  OverrideDataFolder(temp.path());
  EXPECT_EQ(Resolve(""), JoinPath(temp.path(), "client"));
}

#ifdef _WIN32
TEST(ResolveInstallDir, DrivesAndSharesAreAbsolute) {
  EXPECT_EQ(Resolve("D:\\Games"), "D:\\Games");
  EXPECT_EQ(Resolve("D:"), "D:");
  EXPECT_EQ(Resolve("\\\\server\\share\\Brisal"), "\\\\server\\share\\Brisal");
}

TEST(ResolveInstallDir, EverythingElseIsBelowTheExecutable) {
  const std::string exe_folder = ExeFolder();
  EXPECT_EQ(Resolve("Games\\Client"), exe_folder + "\\Games\\Client");
  EXPECT_EQ(Resolve("Games/Client"), exe_folder + "\\Games/Client");
  // A share written with forward slashes is not recognised as one.
  EXPECT_EQ(Resolve("//server/share"), exe_folder + "\\//server/share");
  EXPECT_EQ(Resolve("D"), exe_folder + "\\D");
}
#else
TEST(ResolveInstallDir, LeadingSlashIsAbsolute) {
  EXPECT_EQ(Resolve("/opt/brisal"), "/opt/brisal");
  EXPECT_EQ(Resolve("//srv/brisal"), "//srv/brisal");
}

TEST(ResolveInstallDir, EverythingElseIsBelowTheExecutable) {
  const std::string exe_folder = ExeFolder();
  EXPECT_EQ(Resolve("Games/Client"), exe_folder + "/Games/Client");
  // Windows spellings mean nothing special here.
  EXPECT_EQ(Resolve("D:\\Games"), exe_folder + "/D:\\Games");
  EXPECT_EQ(Resolve("\\\\server\\share"), exe_folder + "/\\\\server\\share");
}
#endif

}  // namespace
}  // namespace brisal

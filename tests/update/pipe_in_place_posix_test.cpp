// A pipe where a client file should be: opening it to hash would wait for a writer
// forever, so it is never opened; the check queues the file and the update replaces
// the pipe with the real file.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "core/files.h"
#include "tests/update/engine_fixture.h"

namespace brisal::testing {
namespace {

class PipeInPlaceTest : public EngineTest {};

TEST_F(PipeInPlaceTest, APipeIsNeverOpenedAndEndsReplaced) {
  Publish({{"vacio.txt", ""}, {"data/x.bin", "x"}});
  ASSERT_TRUE(EnsureDirectory(InstallPath("data")));
  // Sizes 0 and 1: a pipe reports size 0, so the empty entry's size matches it.
  ASSERT_EQ(::mkfifo(InstallPath("vacio.txt").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(InstallPath("data/x.bin.bpart").c_str(), 0644), 0);
  Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  FileInfo info;
  ASSERT_TRUE(GetFileInfo(InstallPath("vacio.txt"), info));
  EXPECT_TRUE(info.is_regular);
  EXPECT_EQ(Installed("data/x.bin"), "x");
}

}  // namespace
}  // namespace brisal::testing

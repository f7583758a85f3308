#include "app/single_instance_posix.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/paths.h"
#include "tests/support/temp_dir.h"

namespace brisal {
namespace {

using namespace std::chrono_literals;

bool WaitFor(const std::atomic<int>& value, int expected) {
  for (int i = 0; i < 500 && value.load() != expected; ++i)
    std::this_thread::sleep_for(10ms);
  return value.load() == expected;
}

TEST(SingleInstanceTest, SecondStartIsRefusedAndRaisesTheFirstOnceItListens) {
  testing::TempDir dir;
  std::atomic<int> raises{0};
  {
    SingleInstance first(dir.path());
    ASSERT_TRUE(first.AcquireFirst());

    SingleInstance second(dir.path());
    EXPECT_FALSE(second.AcquireFirst());
    // The first has no window yet: nobody answers, and nothing is raised.
    EXPECT_FALSE(second.AskFirstToRaise());

    ASSERT_TRUE(first.Listen([&raises] { ++raises; }));
    EXPECT_TRUE(second.AskFirstToRaise());
    EXPECT_TRUE(WaitFor(raises, 1));
    EXPECT_TRUE(second.AskFirstToRaise());
    EXPECT_TRUE(WaitFor(raises, 2));
  }
  // The first ended: its lock is free and its socket gone.
  SingleInstance next(dir.path());
  EXPECT_TRUE(next.AcquireFirst());
  EXPECT_FALSE(next.AskFirstToRaise());
  EXPECT_EQ(raises.load(), 2);
}

TEST(SingleInstanceTest, SocketLeftByACrashIsReplaced) {
  testing::TempDir dir;
  testing::WriteFile(JoinPath(dir.path(), "brisal-launcher.sock"), "");
  SingleInstance first(dir.path());
  ASSERT_TRUE(first.AcquireFirst());
  std::atomic<int> raises{0};
  ASSERT_TRUE(first.Listen([&raises] { ++raises; }));
  SingleInstance second(dir.path());
  EXPECT_FALSE(second.AcquireFirst());
  EXPECT_TRUE(second.AskFirstToRaise());
  EXPECT_TRUE(WaitFor(raises, 1));
}

TEST(SingleInstanceTest, UnusableFolderStillStartsAsFirst) {
  testing::TempDir dir;
  SingleInstance first(JoinPath(dir.path(), "no/such/folder"));
  EXPECT_TRUE(first.AcquireFirst());
  EXPECT_FALSE(first.Listen([] {}));
}

}  // namespace
}  // namespace brisal

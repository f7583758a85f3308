#include "core/log.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "core/paths.h"
#include "tests/support/temp_dir.h"

namespace brisal {
namespace {

using testing::TempDir;

std::vector<std::string> LogLines(const std::string& folder) {
  std::string text = testing::ReadFile(JoinPath(folder, "launcher.log"));
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "the log must end with CR LF";
  return lines;
}

TEST(Log, LineHasTimestampTwoSpacesMessageAndCrLf) {
  TempDir dir;
  OverrideDataFolder(dir.path());
  Log("comprobacion: %u archivos, %zu por borrar -> fase %d", 3u, static_cast<std::size_t>(1), 6);
  Log("segunda \xC3\xADnea");
  auto lines = LogLines(dir.path());
  ASSERT_EQ(lines.size(), 2u);
  std::regex shape(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}  (.*))");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, shape)) << lines[0];
  EXPECT_EQ(match[1].str(), "comprobacion: 3 archivos, 1 por borrar -> fase 6");
  ASSERT_TRUE(std::regex_match(lines[1], match, shape));
  EXPECT_EQ(match[1].str(), "segunda \xC3\xADnea");
}

TEST(Log, LongMessagesAreCutTo1023Bytes) {
  TempDir dir;
  OverrideDataFolder(dir.path());
  std::string message(2000, 'm');
  Log("%s", message.c_str());
  auto lines = LogLines(dir.path());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), 19u + 2u + 1023u);
}

TEST(Log, ServerTextCannotForgeALine) {
  TempDir dir;
  OverrideDataFolder(dir.path());
  Log("reintento 1 de %s: x", "a\r\n2026-01-01 00:00:00  actualizacion completada\x1B[2J");
  auto lines = LogLines(dir.path());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(21),
            "reintento 1 de a\xEF\xBF\xBD\xEF\xBF\xBD" "2026-01-01 00:00:00  actualizacion "
            "completada\xEF\xBF\xBD[2J: x");
}

TEST(Log, UnwritableDataFolderIsSilent) {
  TempDir dir;
  testing::WriteFile(dir.Sub("file"), "x");
  OverrideDataFolder(dir.Sub("file/sub"));  // cannot exist: its parent is a file
  Log("lost");
  EXPECT_EQ(testing::ReadFile(dir.Sub("file")), "x");
}

TEST(Log, ConcurrentLinesNeverInterleave) {
  TempDir dir;
  OverrideDataFolder(dir.path());
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::string payload(300, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i)
        Log("%d %s", t, payload.c_str());
    });
  }
  for (auto& thread : threads)
    thread.join();
  auto lines = LogLines(dir.path());
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  for (const auto& line : lines) {
    ASSERT_GE(line.size(), 21u + 2u + 300u);
    int t = line[21] - '0';
    EXPECT_EQ(line.substr(23), std::string(300, static_cast<char>('a' + t)));
  }
}

}  // namespace
}  // namespace brisal

// Pulls the plug on brisal-cli in the middle of an install, again and again: whatever
// moment the process dies, the next run must finish with every file intact, nothing
// half-written left behind, and little downloaded twice.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "tests/update/engine_fixture.h"

extern char** environ;

namespace brisal::testing {
namespace {

class CrashResumeTest : public EngineTest {
 protected:
  // Starts `brisal-cli update` and returns its process id.
  pid_t StartUpdate() {
    std::vector<std::string> args = {BRISAL_CLI_PATH, "update",
                                     "--config",      config_.Sub("config.json"),
                                     "--install-dir", install_.path()};
    std::vector<char*> argv;
    for (auto& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_storage = {"XDG_DATA_HOME=" + data_.path()};
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).rfind("XDG_DATA_HOME=", 0) != 0) env_storage.push_back(*e);
    }
    std::vector<char*> envp;
    for (auto& entry : env_storage)
      envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  int PartialFiles() { return PartialFilesAndBytes().first; }

  std::pair<int, std::uint64_t> PartialFilesAndBytes() {
    int partials = 0;
    std::uint64_t bytes = 0;
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(install_.path(), ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
      if (!it->path().filename().string().ends_with(".bpart")) continue;
      ++partials;
      const std::uintmax_t size = std::filesystem::file_size(it->path(), ignored);
      if (!ignored) bytes += size;
    }
    return {partials, bytes};
  }

  int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
  }

  TempDir config_;
};

TEST_F(CrashResumeTest, KilledInstallsResumeAndEndIntact) {
  std::map<std::string, std::string> client;
  for (int i = 0; i < 6; ++i)
    client["grandes/g" + std::to_string(i) + ".pak"] = MakeContent(6u << 20, i);
  for (int i = 0; i < 150; ++i) {
    client["chicos/c" + std::to_string(i) + ".dat"] = MakeContent(16384 + 37 * i, 100 + i);
  }
  Publish(client);
  // A server that trickles, so that a kill lands mid-transfer rather than after it.
  for (const auto& [path, content] : client) {
    if (content.size() < (1u << 20)) continue;
    server_.SetHandler("/brisal/client/" + path,
                       [content = content](const HttpTestRequest& request) {
                         HttpTestResponse response = HttpTestResponse::WithStatus(200, content);
                         std::string range = request.Header("Range");
                         if (!range.empty()) {
                           std::uint64_t from = std::stoull(range.substr(6));
                           response = HttpTestResponse::WithStatus(206, content.substr(from));
                         }
                         response.stall_at = response.body.size() / 2;
                         response.stall_for = std::chrono::milliseconds(150);
                         return response;
                       });
  }
  WriteFile(config_.Sub("config.json"), nlohmann::json({{"base_url", server_.Url("/brisal/")},
                                                        {"manifest", "manifest.json"},
                                                        {"connections", 4}})
                                            .dump());

  // Each round waits until a transfer is under way, then kills at a random moment
  // within it.
  std::mt19937 random(20261208);
  int kills = 0;
  for (int round = 0; round < 6; ++round) {
    pid_t pid = StartUpdate();
    bool exited = false;
    for (int poll = 0; poll < 2000 && !exited; ++poll) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        exited = true;
        break;
      }
      // Bytes on disk, so the next run has something to resume.
      if (PartialFilesAndBytes().second > 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (exited) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 120));
    kill(pid, SIGKILL);
    Wait(pid);
    ++kills;
  }
  EXPECT_GE(kills, 3);

  pid_t pid = StartUpdate();
  int status = Wait(pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  for (const auto& [path, content] : client) {
    EXPECT_EQ(Sha256Of(Installed(path)), Sha256Of(content)) << path;
  }
  for (const auto& entry : std::filesystem::recursive_directory_iterator(install_.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_FALSE(name.ends_with(".bpart") || name.ends_with(".tmp")) << entry.path();
  }
  // Resume works: runs after a kill ask for the rest of what they hold. (A count of
  // bytes sent cannot tell: what a killed run had not yet read from its sockets counts
  // as sent, and on a busy machine that outweighs what resuming saves.)
  int resumed = 0;
  for (const HttpTestRequest& request : server_.Requests()) {
    const std::string range = request.Header("Range");
    if (range.starts_with("bytes=") && range != "bytes=0-") ++resumed;
  }
  EXPECT_GT(resumed, 0);
}

TEST_F(CrashResumeTest, InterruptCancelsCleanlyKeepingPartialFiles) {
  const std::string content = MakeContent(4u << 20, 7);
  Publish({{"grande.pak", content}});
  server_.SetHandler("/brisal/client/grande.pak", [&content](const HttpTestRequest&) {
    HttpTestResponse response = HttpTestResponse::WithStatus(200, content);
    response.stall_at = 1u << 20;  // until the server ends
    return response;
  });
  WriteFile(config_.Sub("config.json"),
            nlohmann::json({{"base_url", server_.Url("/brisal/")}, {"manifest", "manifest.json"}})
                .dump());
  pid_t pid = StartUpdate();
  for (int i = 0; i < 2000 && PartialFiles() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(PartialFiles(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(pid, SIGINT);
  int status = Wait(pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_EQ(PartialFiles(), 1);
  EXPECT_EQ(std::filesystem::file_size(InstallPath("grande.pak") + ".bpart"), 1u << 20);
  // The child's data folder is below its XDG_DATA_HOME.
  const std::string log = ReadFile(JoinPath(JoinPath(data_.path(), "BrisalAscent"), "launcher.log"));
  EXPECT_THAT(log, ::testing::HasSubstr("  actualizacion cancelada\r\n"));
  EXPECT_THAT(log, ::testing::Not(::testing::HasSubstr("fallida")));
}

}  // namespace
}  // namespace brisal::testing

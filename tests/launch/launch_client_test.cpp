#include "launch/launch_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/files.h"
#include "core/paths.h"
#include "tests/support/planted_link.h"
#include "tests/support/message_printer.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace brisal {
namespace {

namespace fs = std::filesystem;
using testing::PlantedLink;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

fs::path FsPath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

#ifdef _WIN32
const char* const kGameExe = "bin/Game.exe";
#else
const char* const kGameExe = "bin/game";
#endif

class LaunchClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A space and a non-ASCII letter: the path must survive quoting and conversion.
    install_ = temp_.Sub("Mis Juegos/Cliente \xC3\x91");
    ASSERT_TRUE(EnsureDirectory(install_));
    config_.renderers = {{"OpenGL", "opengl/game"}, {"DirectX", kGameExe}};
    config_.close_on_play = false;
  }

  // Puts the stand-in client at `relative` below the install folder.
  std::string InstallProbe(const std::string& relative) {
    std::string target = JoinPath(install_, ManifestPathToNative(relative));
    EXPECT_TRUE(EnsureDirectory(ParentPath(target)));
    fs::copy_file(FsPath(JoinPath(ExeFolder(), BRISAL_LAUNCH_PROBE_NAME)), FsPath(target),
                  fs::copy_options::overwrite_existing);
    return target;
  }

  static std::string ProbeOutput(const std::string& exe) {
    return JoinPath(ParentPath(exe), "probe-out.json");
  }

  // The probe's record, once it has written it; null when it never did or the launch
  // already reported a failure.
  nlohmann::json WaitForProbe(const std::string& exe) {
    if (!started_) return nullptr;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::string text;
    while (!ReadWholeFile(ProbeOutput(exe), text)) {
      if (std::chrono::steady_clock::now() > deadline) return nullptr;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return nlohmann::json::parse(text, nullptr, false);
  }

  void Launch(int renderer = 1) { started_ = LaunchClient(config_, renderer, install_, error_); }

  TempDir temp_;
  std::string install_;
  LauncherConfig config_;
  bool started_ = false;
  Message error_;
};

TEST_F(LaunchClientTest, StartsTheSelectedRendererInTheInstallFolder) {
  const std::string other = InstallProbe("opengl/game");
  const std::string exe = InstallProbe(kGameExe);
  Launch(1);

  nlohmann::json record = WaitForProbe(exe);
  ASSERT_TRUE(record.is_object()) << "the client was not started";
  EXPECT_TRUE(fs::equivalent(FsPath(record["cwd"].get<std::string>()), FsPath(install_)))
      << record["cwd"];
  EXPECT_EQ(record["argv"], nlohmann::json::array({exe}));
#ifdef _WIN32
  // Only the quoted path: no trailing space when there are no arguments.
  EXPECT_EQ(record["command_line"], "\"" + exe + "\"");
#endif
  EXPECT_TRUE(started_);
  EXPECT_TRUE(error_.empty());
  EXPECT_FALSE(FileExists(ProbeOutput(other))) << "the other renderer was started";
}

TEST_F(LaunchClientTest, PassesClientArgs) {
  config_.client_args = "-windowed  -lang es -name \"Juan P\xC3\xA9rez\" -empty \"\"";
  const std::string exe = InstallProbe(kGameExe);
  error_ = Message(MessageCode::kInternalUnexpected);
  Launch();

  nlohmann::json record = WaitForProbe(exe);
  ASSERT_TRUE(record.is_object()) << "the client was not started";
#ifdef _WIN32
  // Appended exactly as configured; the client's own parser splits it.
  EXPECT_EQ(record["command_line"], "\"" + exe + "\" " + config_.client_args);
#endif
  EXPECT_EQ(record["argv"], nlohmann::json::array({exe, "-windowed", "-lang", "es", "-name",
                                                   "Juan P\xC3\xA9rez", "-empty", ""}));
  EXPECT_TRUE(started_);
  EXPECT_TRUE(error_.empty());
}

#ifdef _WIN32
TEST_F(LaunchClientTest, HandsUnbalancedQuotesToTheClientUnchanged) {
  config_.client_args = "-name \"Juan P\xC3\xA9rez";
  const std::string exe = InstallProbe(kGameExe);
  Launch();

  nlohmann::json record = WaitForProbe(exe);
  ASSERT_TRUE(record.is_object()) << "the client was not started";
  EXPECT_EQ(record["command_line"], "\"" + exe + "\" " + config_.client_args);
  EXPECT_EQ(record["argv"], nlohmann::json::array({exe, "-name", "Juan P\xC3\xA9rez"}));
}
#else
TEST_F(LaunchClientTest, SplitsClientArgsLikeAShell) {
  config_.client_args =
      "'single quoted' back\\ slashed \"a \\\"b\\\" c\" $HOME joined\"x y\"z # comment";
  const std::string exe = InstallProbe(kGameExe);
  Launch();

  nlohmann::json record = WaitForProbe(exe);
  ASSERT_TRUE(record.is_object()) << "the client was not started";
  // No expansion of any kind: the words are only split and unquoted.
  EXPECT_EQ(record["argv"], nlohmann::json::array({exe, "single quoted", "back slashed",
                                                   "a \"b\" c", "$HOME", "joinedx yz"}));
}

TEST_F(LaunchClientTest, BlankClientArgsAddNoArgument) {
  config_.client_args = " \t ";
  const std::string exe = InstallProbe(kGameExe);
  Launch();

  nlohmann::json record = WaitForProbe(exe);
  ASSERT_TRUE(record.is_object()) << "the client was not started";
  EXPECT_EQ(record["argv"], nlohmann::json::array({exe}));
}

TEST_F(LaunchClientTest, UnsplittableClientArgsAreAnInvalidArgument) {
  config_.client_args = "-name \"Juan";
  const std::string exe = InstallProbe(kGameExe);
  Launch();

  EXPECT_EQ(error_, Message(MessageCode::kClientStartFailed, {}, EINVAL));
  EXPECT_FALSE(started_);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(FileExists(ProbeOutput(exe)));
}

TEST_F(LaunchClientTest, AddsTheMissingExecuteBitBeforeStarting) {
  const std::string exe = InstallProbe(kGameExe);
  ASSERT_EQ(::chmod(exe.c_str(), 0644), 0);
  Launch();

  nlohmann::json record = WaitForProbe(exe);
  ASSERT_TRUE(record.is_object()) << "the client was not started: " << Sentence(error_);
  struct stat st;
  ASSERT_EQ(::stat(exe.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0744u);
}

// A link in the install folder, planted or left by anyone, must not make a file of the
// player's executable, nor start it.
TEST_F(LaunchClientTest, NeverMadeExecutableNorStartedThroughALink) {
  const std::string outside = temp_.Sub("outside");
  ASSERT_TRUE(EnsureDirectory(outside));
  fs::copy_file(FsPath(JoinPath(ExeFolder(), BRISAL_LAUNCH_PROBE_NAME)), FsPath(outside + "/game"));
  const std::string inside = JoinPath(install_, "other");
  ASSERT_TRUE(EnsureDirectory(inside));
  fs::copy_file(FsPath(outside + "/game"), FsPath(inside + "/game"));
  const std::string bin = JoinPath(install_, "bin");
  // The link, what it points at, and the file that must stay as it was.
  const std::string cases[][3] = {{bin + "/game", outside + "/game", outside + "/game"},
                                  {bin, outside, outside + "/game"},
                                  {bin + "/game", "../other/game", inside + "/game"}};
  for (const auto& [link, target, file] : cases) {
    fs::remove_all(FsPath(bin));
    ASSERT_TRUE(EnsureDirectory(ParentPath(link)));
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
    Launch();
    EXPECT_FALSE(started_) << link;
    EXPECT_EQ(error_, Message(MessageCode::kClientThroughLink, kGameExe)) << link;
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << link;
  }
}

TEST_F(LaunchClientTest, TheClientInheritsNoDescriptorOfOurs) {
  const std::string exe = InstallProbe(kGameExe);
  const int inheritable = ::open(exe.c_str(), O_RDONLY);
  ASSERT_GE(inheritable, 3);
  Launch();
  ::close(inheritable);

  nlohmann::json record = WaitForProbe(exe);
  ASSERT_TRUE(record.is_object()) << "the client was not started: " << Sentence(error_);
  EXPECT_EQ(record["inherited_fds"], nlohmann::json::array());
}

TEST_F(LaunchClientTest, TheClientIsReapedOnceItEnds) {
  const std::string exe = InstallProbe(kGameExe);
  Launch();

  nlohmann::json record = WaitForProbe(exe);
  ASSERT_TRUE(record.is_object()) << "the client was not started";
  // An ended child nobody waited for stays in the process table as a zombie.
  const std::string proc_entry = "/proc/" + std::to_string(record["pid"].get<long>());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (fs::exists(proc_entry) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(fs::exists(proc_entry)) << ReadFile(proc_entry + "/stat");
}
#endif

TEST_F(LaunchClientTest, RelativeInstallFolderIsTakenFromOurCurrentFolder) {
  const std::string exe = InstallProbe(kGameExe);
  const fs::path previous = fs::current_path();
  fs::current_path(FsPath(ParentPath(install_)));
  started_ = LaunchClient(config_, 1, "Cliente \xC3\x91", error_);
  fs::current_path(previous);

  nlohmann::json record = WaitForProbe(exe);
  ASSERT_TRUE(record.is_object()) << "the client was not started: " << Sentence(error_);
  EXPECT_TRUE(fs::equivalent(FsPath(record["cwd"].get<std::string>()), FsPath(install_)));
  EXPECT_TRUE(started_);
}

TEST_F(LaunchClientTest, ARendererIndexOutsideTheListStartsNothing) {
  const std::string exe = InstallProbe(kGameExe);
  for (const int index : {-1, 2}) {  // two renderers configured
    error_ = Message(MessageCode::kInternalUnexpected);
    Launch(index);
    EXPECT_FALSE(started_) << index;
    EXPECT_TRUE(error_.empty()) << index;
  }
}

// Where the client lies 240 bytes deep, past Windows' 260 characters, it starts all the
// same, and is told its path in the form it knows.
TEST_F(LaunchClientTest, StartsAClientDeepBelowTheInstallFolder) {
  const std::string segment(60, 'n');
  std::string deep = segment + "/" + segment + "/" + segment + "/";
  deep += std::string(240 - deep.size() - 9, 'd') + "/Game.exe";
  ASSERT_EQ(deep.size(), 240u);
  config_.renderers[1].exe = deep;
  const std::string exe = InstallProbe(deep);
  Launch();

  nlohmann::json record = WaitForProbe(exe);
  ASSERT_TRUE(record.is_object()) << "the client was not started: " << Sentence(error_);
  EXPECT_EQ(record["argv"].at(0), exe);
}

// A link below the install folder, even one to a folder inside it, is no way to the
// client: the player is told why it does not start.
TEST_F(LaunchClientTest, NeverStartedThroughAFolderLinkPointingInside) {
  InstallProbe("real/Game.exe");
  PlantedLink bin(JoinPath(install_, "bin"), JoinPath(install_, "real"));
  if (!bin.made()) GTEST_SKIP() << "this system cannot make links";
  config_.renderers[1].exe = "bin/Game.exe";
  Launch();

  EXPECT_FALSE(started_);
  EXPECT_EQ(error_, Message(MessageCode::kClientThroughLink, "bin/Game.exe"));
}

TEST_F(LaunchClientTest, MissingExecutableNamesTheConfiguredPath) {
  config_.renderers[1].exe = "bin/sub/Game.exe";
  InstallProbe("bin/Game.exe");  // present, but not where the renderer points
  Launch();

  EXPECT_EQ(error_, Message(MessageCode::kClientMissing, "bin/sub/Game.exe"));
  EXPECT_FALSE(started_);
}

TEST_F(LaunchClientTest, FolderInPlaceOfTheExecutableCountsAsMissing) {
  ASSERT_TRUE(EnsureDirectory(JoinPath(install_, ManifestPathToNative(kGameExe))));
  Launch();

  EXPECT_EQ(error_, Message(MessageCode::kClientMissing, kGameExe));
  EXPECT_FALSE(started_);
}

TEST_F(LaunchClientTest, ProgramThatCannotStartShowsTheSystemError) {
  const std::string exe = JoinPath(install_, ManifestPathToNative(kGameExe));
  WriteFile(exe, "this is not a program\n");
  Launch();

#ifdef _WIN32
  const std::uint64_t expected_error = 193;  // ERROR_BAD_EXE_FORMAT
#else
  const std::uint64_t expected_error = ENOEXEC;
#endif
  EXPECT_EQ(error_, Message(MessageCode::kClientStartFailed, {}, expected_error));
  EXPECT_FALSE(started_);
}

}  // namespace
}  // namespace brisal

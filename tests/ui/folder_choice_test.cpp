// Choosing the install folder: the rules, their refusals, and what an accepted folder
// changes (settings.json, the jobs' settings, a fresh check).
#include "ui/folder_choice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "core/paths.h"
#include "tests/ui/window_fixture.h"

namespace brisal {
namespace {

bool WindowsPaths() {
  return NativePathSeparator() == '\\';
}

struct Verdict {
  bool accepted;
  std::string folder_or_refusal;
};

Verdict Check(const std::string& chosen, const std::string& exe_folder) {
  std::string folder;
  std::string refusal;
  const bool accepted = CheckInstallFolder(chosen, exe_folder, folder, refusal);
  return {accepted, accepted ? folder : refusal};
}

TEST(CheckInstallFolder, RefusesTheFileSystemRoot) {
  if (WindowsPaths()) {
    for (const char* root : {"C:\\", "C:\\\\", "C:/", "C:", "D:\\/\\"}) {
      const Verdict v = Check(root, "C:\\Brisal");
      EXPECT_FALSE(v.accepted) << root;
      EXPECT_EQ(v.folder_or_refusal, kDriveRootRefusal) << root;
    }
    EXPECT_EQ(Check("C:\\a", "C:\\Brisal").folder_or_refusal, "C:\\a");
    EXPECT_EQ(Check("D:\\Juegos\\", "C:\\Brisal").folder_or_refusal, "D:\\Juegos");
    // Four characters, one of them two bytes long in UTF-8.
    EXPECT_EQ(Check("C:\\é", "C:\\Brisal").folder_or_refusal, "C:\\é");
  } else {
    for (const char* root : {"/", "//", "///"}) {
      const Verdict v = Check(root, "/opt/brisal");
      EXPECT_FALSE(v.accepted) << root;
      EXPECT_EQ(v.folder_or_refusal, kDriveRootRefusal) << root;
    }
    EXPECT_EQ(Check("/a", "/opt/brisal").folder_or_refusal, "/a");
    EXPECT_EQ(Check("/home/ana/Juegos/", "/opt/brisal").folder_or_refusal, "/home/ana/Juegos");
    // A backslash is an ordinary character in a POSIX file name.
    EXPECT_EQ(Check("/home/ana/raro\\", "/opt/brisal").folder_or_refusal, "/home/ana/raro\\");
  }
}

TEST(CheckInstallFolder, RefusesTheLaunchersOwnFolderButNotItsSubFolders) {
  const std::string exe = WindowsPaths() ? "C:\\Games\\Brisal" : "/opt/brisal";
  const std::string sep(1, NativePathSeparator());
  for (const std::string& same : {exe, exe + sep, exe + sep + sep}) {
    const Verdict v = Check(same, exe);
    EXPECT_FALSE(v.accepted) << same;
    EXPECT_EQ(v.folder_or_refusal, kLauncherFolderRefusal) << same;
    EXPECT_FALSE(Check(same, exe + sep).accepted) << same;  // however the folder is written
  }
  EXPECT_TRUE(Check(exe + sep + "cliente", exe).accepted);
  EXPECT_TRUE(Check(exe + "2", exe).accepted);
  // Letter case: one folder on Windows, two on POSIX.
  const Verdict upper = Check(WindowsPaths() ? "c:\\GAMES\\brisal" : "/OPT/brisal", exe);
  EXPECT_EQ(upper.accepted, !WindowsPaths());
}

class FolderChoiceTest : public testing::WindowFixture {
 protected:
  std::string Native(const std::string& posix) const {
    if (!WindowsPaths()) return posix;
    std::string path = "C:" + posix;
    for (char& c : path)
      if (c == '/') c = '\\';
    return path;
  }
};

TEST_F(FolderChoiceTest, AcceptedFolderIsSavedHandedOverAndChecked) {
  log.exe_folder = Native("/opt/brisal");
  UserSettings settings;
  settings.renderer = 1;
  Open(1.5f, settings);
  Publish(UpdatePhase::kUpToDate);
  window->notice = "aviso anterior";
  host.pick_answer = Native("/home/ana/Juegos/Brisal/");
  host.invalidated.clear();

  Click(kChangeFolderButton);

  EXPECT_EQ(host.picker_titles,
            (std::vector<std::string>{"Elige la carpeta donde se instalará Brisal Ascent"}));
  const std::string folder = Native("/home/ana/Juegos/Brisal");
  EXPECT_EQ(window->install_folder, folder);
  EXPECT_EQ(window->settings.install_dir, folder);
  EXPECT_TRUE(window->notice.empty());
  const UserSettings saved = LoadSettings();
  EXPECT_EQ(saved.install_dir, folder);
  EXPECT_EQ(saved.renderer, 1);
  {
    MutexLock guard(state.board.lock);
    EXPECT_TRUE(state.handover.pending_dirty);
    EXPECT_EQ(state.handover.pending.install_dir, folder);
  }
  ASSERT_EQ(log.checks.size(), 1u);
  EXPECT_FALSE(log.checks[0].verify_all || log.checks[0].quiet || log.checks[0].auto_update);
  // The folder row shows the new folder and the status line loses the old notice.
  for (const PixelRect& area : {PixelRect{60, 855, 1380, 894}, PixelRect{60, 780, 978, 825}}) {
    EXPECT_NE(std::find(host.invalidated.begin(), host.invalidated.end(), area),
              host.invalidated.end());
  }
}

TEST_F(FolderChoiceTest, RefusedFoldersChangeNothingAndSayWhy) {
  log.exe_folder = Native("/opt/brisal");
  UserSettings settings;
  settings.install_dir = Native("/juegos/antes");
  Open(1.0f, settings);
  Publish(UpdatePhase::kNotInstalled);

  struct Case {
    std::string chosen;
    const char* text;
  };
  const Case cases[] = {
      {WindowsPaths() ? "C:\\" : "/",
       "Elige una carpeta, no la raíz de un disco (por ejemplo "
       "C:\\Juegos\\Brisal)."},
      {Native("/opt/brisal/"), "No instales el cliente en la misma carpeta del launcher."},
  };
  for (const Case& c : cases) {
    host.pick_answer = c.chosen;
    host.invalidated.clear();
    Click(kChangeFolderButton);
    EXPECT_EQ(window->notice, c.text) << c.chosen;
    EXPECT_EQ(window->install_folder, Native("/juegos/antes"));
    EXPECT_NE(
        std::find(host.invalidated.begin(), host.invalidated.end(), PixelRect{40, 520, 652, 550}),
        host.invalidated.end());
  }
  EXPECT_TRUE(log.checks.empty());
  EXPECT_EQ(log.settings_saves, 0);
  EXPECT_EQ(testing::ReadFile(SettingsPath()), "<missing>");
  MutexLock guard(state.board.lock);
  EXPECT_FALSE(state.handover.pending_dirty);
}

TEST_F(FolderChoiceTest, CancelledPickerLeavesEverythingAsItWas) {
  Open();
  Publish(UpdatePhase::kFailed, "No se pudo conectar");
  window->notice = "aviso anterior";
  host.pick_answer.reset();
  Click(kChangeFolderButton);
  EXPECT_EQ(host.picker_titles.size(), 1u);
  EXPECT_EQ(window->notice, "aviso anterior");
  EXPECT_EQ(window->install_folder, "/juegos/brisal");
  EXPECT_TRUE(log.checks.empty());
  EXPECT_EQ(log.settings_saves, 0);

  // An empty answer is no answer.
  host.pick_answer = "";
  Click(kChangeFolderButton);
  EXPECT_EQ(window->notice, "aviso anterior");
  EXPECT_EQ(log.settings_saves, 0);
}

TEST_F(FolderChoiceTest, NoPickerWhileAJobRuns) {
  Open();
  host.pick_answer = Native("/home/ana/Juegos");
  for (UpdatePhase busy :
       {UpdatePhase::kChecking, UpdatePhase::kVerifying, UpdatePhase::kDownloading}) {
    Publish(busy);
    // Called directly: the button itself is disabled and ignores clicks.
    window->ChooseInstallFolder();
  }
  EXPECT_TRUE(host.picker_titles.empty());
  EXPECT_EQ(window->install_folder, "/juegos/brisal");
}

}  // namespace
}  // namespace brisal

#include "config/user_settings.h"

#include <gtest/gtest.h>

#include "core/files.h"
#include "core/paths.h"
#include "tests/support/temp_dir.h"

namespace brisal {
namespace {

using testing::TempDir;

class UserSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { OverrideDataFolder(dir_.path()); }
  void WriteSettings(const std::string& text) { testing::WriteFile(SettingsPath(), text); }
  TempDir dir_;
};

TEST_F(UserSettingsTest, LivesInTheDataFolder) {
  EXPECT_EQ(SettingsPath(), JoinPath(dir_.path(), "settings.json"));
}

TEST_F(UserSettingsTest, MissingOrMalformedFilesGiveInitialValues) {
  for (const char* text : {"<missing>", "[1]", "{", "// c\n{}", "\"x\""}) {
    if (std::string(text) != "<missing>") WriteSettings(text);
    UserSettings settings = LoadSettings();
    EXPECT_EQ(settings.install_dir, "") << text;
    EXPECT_EQ(settings.renderer, -1) << text;
  }
}

TEST_F(UserSettingsTest, WritesTheExactTextAndReadsItBack) {
  UserSettings settings;
  settings.install_dir = "C:\\Juegos\\Cliente";
  settings.renderer = 1;
  settings.download_limit_kib = 2048;
  SaveSettings(settings);
  EXPECT_EQ(testing::ReadFile(SettingsPath()),
            "{\n  \"download_limit_kib\": 2048,\n  \"install_dir\": \"C:\\\\Juegos\\\\Cliente\",\n"
            "  \"renderer\": 1\n}");
  EXPECT_FALSE(FileExists(SettingsPath() + ".tmp"));
  UserSettings back = LoadSettings();
  EXPECT_EQ(back.install_dir, settings.install_dir);
  EXPECT_EQ(back.renderer, 1);
  EXPECT_EQ(back.download_limit_kib, 2048u);
}

TEST_F(UserSettingsTest, DownloadLimitOtherThanAWholeNumberThatFitsIsNone) {
  for (const char* value : {"-5", "1.5", "\"10\"", "true", "4294967296", "null"}) {
    WriteSettings(std::string("{\"download_limit_kib\": ") + value + "}");
    EXPECT_EQ(LoadSettings().download_limit_kib, 0u) << value;
  }
}

TEST_F(UserSettingsTest, NonAsciiFolderIsRawUtf8) {
  UserSettings settings;
  settings.install_dir = "/home/jugador/Brisal Ascensi\xC3\xB3n";
  settings.renderer = 0;
  SaveSettings(settings);
  EXPECT_NE(testing::ReadFile(SettingsPath()).find("Ascensi\xC3\xB3n"), std::string::npos);
  EXPECT_EQ(LoadSettings().install_dir, settings.install_dir);
}

TEST_F(UserSettingsTest, RendererTakesNumbersAndBooleans) {
  auto renderer = [this](const char* value) {
    WriteSettings(std::string("{\"install_dir\": \"\", \"renderer\": ") + value + "}");
    return LoadSettings().renderer;
  };
  EXPECT_EQ(renderer("7"), 7);
  EXPECT_EQ(renderer("-3"), -3);
  EXPECT_EQ(renderer("1.9"), 1);
  EXPECT_EQ(renderer("-1.9"), -1);
  EXPECT_EQ(renderer("true"), 1);
  EXPECT_EQ(renderer("false"), 0);
  EXPECT_EQ(renderer("\"2\""), -1);
  WriteSettings("{\"install_dir\": 5}");
  UserSettings odd = LoadSettings();
  EXPECT_EQ(odd.install_dir, "");
  EXPECT_EQ(odd.renderer, -1);
}

TEST_F(UserSettingsTest, ByteOrderMarkIsAccepted) {
  WriteSettings("\xEF\xBB\xBF{\"install_dir\": \"x\", \"renderer\": 0}");
  EXPECT_EQ(LoadSettings().install_dir, "x");
}

}  // namespace
}  // namespace brisal

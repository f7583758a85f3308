#include "config/launcher_config.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "config.h"
#include "core/files.h"
#include "core/paths.h"
#include "tests/support/message_printer.h"
#include "tests/support/signing_vectors.h"
#include "tests/support/temp_dir.h"

namespace brisal {
namespace {

using testing::TempDir;

struct Loaded {
  bool ok;
  LauncherConfig config;
  Message message;
};

Loaded LoadText(const std::string& text) {
  TempDir dir;
  testing::WriteFile(dir.Sub("config.json"), text);
  Loaded loaded;
  loaded.ok = LoadConfig(dir.Sub("config.json"), loaded.config, loaded.message);
  return loaded;
}

TEST(LoadConfig, MissingFileGivesDefaultsWithoutComplaint) {
  TempDir dir;
  LauncherConfig config;
  config.connections = 7;
  Message message;
  EXPECT_TRUE(LoadConfig(dir.Sub("config.json"), config, message));
  EXPECT_TRUE(message.empty());
  EXPECT_EQ(config.base_url, BRISAL_BASE_URL);
  EXPECT_EQ(config.manifest, "manifest.php");
  EXPECT_EQ(config.files_path, "client/");
  EXPECT_EQ(config.news, "news.php");
  EXPECT_EQ(config.connections, 3);
  EXPECT_FALSE(config.auto_update);
  EXPECT_TRUE(config.close_on_play);
  EXPECT_EQ(config.recheck_seconds, 90);
  ASSERT_EQ(config.renderers.size(), 2u);
  EXPECT_EQ(config.renderers[0].name, "OpenGL");
  EXPECT_EQ(config.renderers[0].exe, "Brisal Client_GL.exe");
  EXPECT_EQ(config.renderers[1].name, "DirectX");
  EXPECT_EQ(config.renderers[1].exe, "Brisal Client_DX.exe");
  EXPECT_EQ(config.website, "");
  EXPECT_EQ(config.register_url, "");
  EXPECT_EQ(config.discord, "");
}

TEST(LoadConfig, BuiltInServerIsInTheReservedExampleDomain) {
  EXPECT_NE(std::string(BRISAL_BASE_URL).find(".example/"), std::string::npos);
  EXPECT_EQ(std::string(BRISAL_BASE_URL).back(), '/');
}

// A config.json that is there but cannot be used keeps the defaults and marks the
// config unusable, so that no manifest is trusted; only a missing file is no complaint.
TEST(LoadConfig, AFileThatCannotBeUsedLeavesNothingTrusted) {
  for (const char* text : {"{", "", "[1,2]", "\"text\"", "42", "null", "{\"a\":1,}"}) {
    Loaded loaded = LoadText(text);
    EXPECT_FALSE(loaded.ok) << text;
    EXPECT_EQ(loaded.message, Message(MessageCode::kConfigMalformed)) << text;
    EXPECT_TRUE(loaded.config.unusable) << text;
    EXPECT_EQ(loaded.config.connections, 3);
  }
  TempDir dir;
  testing::WriteFile(dir.Sub("large.json"), "{}" + std::string(2 << 20, ' '));
  CreateOneDirectory(dir.Sub("folder.json"));
  for (const char* name : {"large.json", "folder.json", "missing.json"}) {
    LauncherConfig config;
    Message message;
    const bool missing = std::string(name) == "missing.json";
    EXPECT_EQ(LoadConfig(dir.Sub(name), config, message), missing) << name;
    EXPECT_EQ(message, missing ? Message() : Message(MessageCode::kConfigUnreadable)) << name;
    EXPECT_EQ(config.unusable, !missing) << name;
  }
}

TEST(LoadConfig, CommentsAndByteOrderMarkAreAccepted) {
  Loaded loaded = LoadText("\xEF\xBB\xBF// operador\n{ /* nada */ }");
  EXPECT_TRUE(loaded.ok);
  EXPECT_TRUE(loaded.message.empty());
  EXPECT_EQ(loaded.config.website, "");
  EXPECT_EQ(loaded.config.discord, "");
}

TEST(LoadConfig, UrlAndPathNormalisation) {
  Loaded a = LoadText(R"({"base_url": "http://h/brisal", "files_path": "data"})");
  EXPECT_EQ(a.config.base_url, "http://h/brisal/");
  EXPECT_EQ(a.config.files_path, "data/");
  Loaded b = LoadText(R"({"base_url": "", "files_path": "/"})");
  EXPECT_EQ(b.config.base_url, "");
  EXPECT_EQ(b.config.files_path, "");
  Loaded c = LoadText(R"({"files_path": "", "manifest": "m.json", "news": ""})");
  EXPECT_EQ(c.config.files_path, "");
  EXPECT_EQ(c.config.manifest, "m.json");
  EXPECT_EQ(c.config.news, "");
}

TEST(LoadConfig, ConnectionsAreClampedAndWrongTypesIgnored) {
  auto connections = [](const char* value) {
    return LoadText(std::string("{\"connections\": ") + value + "}").config.connections;
  };
  EXPECT_EQ(connections("0"), 1);
  EXPECT_EQ(connections("-5"), 1);
  EXPECT_EQ(connections("20"), 8);
  EXPECT_EQ(connections("5"), 5);
  EXPECT_EQ(connections("4.5"), 3);
  EXPECT_EQ(connections("4.0"), 3);
  EXPECT_EQ(connections("\"4\""), 3);
  EXPECT_EQ(connections("18446744073709551615"), 8);
}

TEST(LoadConfig, RecheckSecondsNeverNegative) {
  auto recheck = [](const char* value) {
    return LoadText(std::string("{\"recheck_seconds\": ") + value + "}").config.recheck_seconds;
  };
  EXPECT_EQ(recheck("0"), 0);
  EXPECT_EQ(recheck("-10"), 0);
  EXPECT_EQ(recheck("30"), 30);
  EXPECT_EQ(recheck("2.5"), 90);
  // Beyond 32 bits: the largest period there is, never a wrapped small one.
  EXPECT_EQ(recheck("5000000000"), 2147483647);
  EXPECT_EQ(recheck("18446744073709551615"), 2147483647);
}

TEST(LoadConfig, BooleansOnlyFromJsonBooleans) {
  Loaded a = LoadText(R"({"auto_update": true, "close_on_play": false})");
  EXPECT_TRUE(a.config.auto_update);
  EXPECT_FALSE(a.config.close_on_play);
  Loaded b = LoadText(R"({"auto_update": 1, "close_on_play": "false"})");
  EXPECT_FALSE(b.config.auto_update);
  EXPECT_TRUE(b.config.close_on_play);
}

TEST(LoadConfig, RenderersAcceptOnlySafeExecutables) {
  Loaded one = LoadText(R"({"renderers": [{"exe": "bin/GameGL.exe"}]})");
  ASSERT_EQ(one.config.renderers.size(), 1u);
  EXPECT_EQ(one.config.renderers[0].name, "bin/GameGL.exe");
  EXPECT_EQ(one.config.renderers[0].exe, "bin/GameGL.exe");

  Loaded unsafe = LoadText(
      R"({"renderers": [{"name": "A", "exe": "../x.exe"}, {"name": "B", "exe": "C:/x.exe"},
                         {"name": "C", "exe": ""}, 7, "x"]})");
  ASSERT_EQ(unsafe.config.renderers.size(), 2u);
  EXPECT_EQ(unsafe.config.renderers[0].name, "OpenGL");

  Loaded empty = LoadText(R"({"renderers": []})");
  EXPECT_EQ(empty.config.renderers.size(), 2u);

  Loaded mixed = LoadText(
      R"({"renderers": [{"name": "Vulkan", "exe": "vk/game"}, {"exe": 5},
                         {"name": 3, "exe": "gl/game"}, {"name": "Soft", "exe": "sw/game"}]})");
  ASSERT_EQ(mixed.config.renderers.size(), 2u);
  EXPECT_EQ(mixed.config.renderers[0].name, "Vulkan");
  EXPECT_EQ(mixed.config.renderers[1].exe, "sw/game");
}

TEST(LoadConfig, LinksObjectFillsDefaultsForMissingMembers) {
  Loaded empty = LoadText(R"({"links": {}})");
  EXPECT_EQ(empty.config.website, BRISAL_WEBSITE);
  EXPECT_EQ(empty.config.register_url, BRISAL_REGISTER);
  EXPECT_EQ(empty.config.discord, "");

  Loaded full =
      LoadText(R"({"links": {"website": "https://w", "register": "", "discord": "https://d"}})");
  EXPECT_EQ(full.config.website, "https://w");
  EXPECT_EQ(full.config.register_url, "");
  EXPECT_EQ(full.config.discord, "https://d");

  Loaded wrong = LoadText(R"({"links": {"website": 3, "discord": ["x"]}})");
  EXPECT_EQ(wrong.config.website, BRISAL_WEBSITE);
  EXPECT_EQ(wrong.config.discord, "");

  Loaded not_object = LoadText(R"({"links": "https://w"})");
  EXPECT_EQ(not_object.config.website, "");
}

TEST(LoadConfig, StringKeysOfOtherTypesKeepDefaults) {
  Loaded loaded = LoadText(R"({"base_url": 5, "install_dir": null, "client_args": ["-x"]})");
  EXPECT_TRUE(loaded.ok);
  EXPECT_EQ(loaded.config.base_url, BRISAL_BASE_URL);
  EXPECT_EQ(loaded.config.install_dir, "");
  EXPECT_EQ(loaded.config.client_args, "");
}

// A key that is not one must never mean "unsigned": it is a complaint, and the text
// stays so that no manifest verifies. The other keys still load.
TEST(LoadConfig, ManifestKeyIsTakenOrRefusedNeverDropped) {
  const std::string key = testing::kVectorPublicKey;
  std::string not_a_point = key;
  not_a_point[0] = 'C';  // decodes, but does not start with 0x04
  const struct {
    std::string text;  // the member's value: a JSON string of this text, or raw JSON
    bool is_string;
    bool accepted;
  } cases[] = {
      {key, true, true},
      {" " + key + "\n", true, true},
      {"", true, true},
      {key.substr(0, 84), true, false},  // 62 bytes
      {not_a_point, true, false},
      {key + "x", true, false},
      {"-----BEGIN PUBLIC KEY-----", true, false},
      {"42", false, false},
      {"null", false, false},
      {"[\"" + key + "\", \"" + std::string(testing::kOtherPublicKey) + "\"]", false, true},
      {"[\"" + key + "\", \"BBBB\"]", false, false},
  };
  for (const auto& c : cases) {
    const std::string value = c.is_string ? nlohmann::json(c.text).dump() : c.text;
    Loaded loaded = LoadText("{\"manifest_key\": " + value + ", \"connections\": 5}");
    EXPECT_EQ(loaded.ok, c.accepted) << value;
    EXPECT_EQ(loaded.message,
              c.accepted ? Message() : Message(MessageCode::kConfigManifestKeyInvalid))
        << value;
    std::vector<std::string> keys;
    if (c.text.starts_with("[")) {
      for (const auto& element : nlohmann::json::parse(c.text))
        keys.push_back(element.get<std::string>());
    } else if (!c.text.empty()) {
      keys.push_back(c.text);
    }
    EXPECT_EQ(loaded.config.manifest_keys, keys) << value;
    EXPECT_FALSE(loaded.config.unusable) << value;
    EXPECT_EQ(loaded.config.connections, 5) << value;
  }
  EXPECT_EQ(LoadText("{}").config.manifest_keys.size(),
            std::string(BRISAL_MANIFEST_KEY).empty() ? 0u : 1u);
}

}  // namespace
}  // namespace brisal

// brisal-cli as other tools see it: its exit statuses, its last JSON line, its texts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "client_files/block_map.h"
#include "config/launcher_config.h"
#include "core/files.h"
#include "core/install_tree.h"
#include "net/http_client.h"
#include "tests/support/signing_vectors.h"
#include "tests/update/engine_fixture.h"
#include "core/messages.h"
#include "update/manifest_trust.h"

#ifdef _WIN32
#include <windows.h>
// aclapi.h needs the types windows.h defines.
#include <aclapi.h>

#include <vector>

#include "core/free_with.h"
#include "core/text.h"
#define popen _popen
#define pclose _pclose
#else
#include <sys/wait.h>
#endif

namespace brisal::testing {
namespace {

struct CliRun {
  int status = -1;
  std::string out;
  std::vector<std::string> lines;
};

// build/<preset>/tests/cli/cli_tests -> build/<preset>/cli/brisal-cli: found from our
// own folder, so the Windows build under Wine gets a path it understands.
std::string CliPath() {
  return JoinPath(JoinPath(ParentPath(ParentPath(ExeFolder())), "cli"), BRISAL_CLI_NAME);
}

#ifdef _WIN32
// Whether the file lets the user this process runs as, and no one else, in. Windows
// keeps the access list as it was made: protected, the user's one entry. Wine keeps
// none: it turns a list into the Unix mode and reads back SYSTEM, the owner and, where
// the mode lets others in, Everyone; there every entry must be the user's or SYSTEM's.
::testing::AssertionResult OnlyTheUserMayOpen(const std::string& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (GetNamedSecurityInfoW(Utf8ToWide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, &dacl, nullptr, &raw) != ERROR_SUCCESS) {
    return ::testing::AssertionFailure() << "no access list";
  }
  OwningPtr<void, LocalFree> descriptor(raw);
  HANDLE token_raw = nullptr;
  DWORD size = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token_raw)) {
    return ::testing::AssertionFailure() << "no token";
  }
  OwningPtr<void, CloseHandle> token(token_raw);
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
    return ::testing::AssertionFailure() << "no user";
  }
  PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!wine && (!GetSecurityDescriptorControl(raw, &control, &revision) ||
                !(control & SE_DACL_PROTECTED) || !dacl || dacl->AceCount != 1)) {
    return ::testing::AssertionFailure() << "not one entry, or inherited from the folder";
  }
  bool user_in = false;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return ::testing::AssertionFailure() << "entry " << i;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID who = &allowed->SidStart;
    if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(who, sid)) {
      user_in = (allowed->Mask & FILE_GENERIC_READ) == FILE_GENERIC_READ;
    } else if (!wine || !IsWellKnownSid(who, WinLocalSystemSid)) {
      return ::testing::AssertionFailure() << "entry " << i << " lets someone else in";
    }
  }
  return user_in ? ::testing::AssertionSuccess()
                 : ::testing::AssertionFailure() << "the user may not read it";
}
#endif

class CliTest : public EngineTest {
 protected:
  void SetUp() override {
    WriteFile(config_.Sub("config.json"), nlohmann::json({{"base_url", server_.Url("/brisal/")},
                                                          {"manifest", "manifest.json"},
                                                          {"files_path", "client/"},
                                                          {"connections", 4}})
                                              .dump());
  }

  CliRun Cli(const std::string& args) {
    std::string command;
#ifndef _WIN32
    command = "XDG_DATA_HOME='" + data_.path() + "' ";
#endif
    command.append("\"").append(CliPath()).append("\" ").append(args).append(" 2>&1");
#ifdef _WIN32
    // cmd.exe drops the first and the last quote of a line that starts with one.
    command = "\"" + command + "\"";
#endif
    CliRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
      run.out.append(buffer, n);
    int raw = pclose(pipe);
#ifdef _WIN32
    run.status = raw;
#else
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    std::size_t start = 0;
    while (start < run.out.size()) {
      std::size_t end = run.out.find('\n', start);
      if (end == std::string::npos) end = run.out.size();
      std::string line = run.out.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      run.lines.push_back(line);
      start = end + 1;
    }
    return run;
  }

  std::string Engine(const std::string& command) {
    return command + " --config \"" + config_.Sub("config.json") + "\" --install-dir \"" +
           install_.path() + "\"";
  }

  TempDir config_;
};

TEST_F(CliTest, CheckUpdateAndVerifyReportPhasesAndExitStatuses) {
  Publish({{"a.bin", MakeContent(5000, 1)}, {"sub/b.bin", MakeContent(70000, 2)}},
          "rev-3\u202E\x1B[2J");

  CliRun check = Cli(Engine("check") + " --json");
  EXPECT_EQ(check.status, 4) << check.out;
  EXPECT_THAT(check.lines, ::testing::Contains("Buscando actualizaciones…"));
  EXPECT_THAT(check.lines, ::testing::Contains("Cliente no instalado · 2 archivos (73 KB)"));
  auto summary = nlohmann::json::parse(check.lines.back());
  EXPECT_EQ(summary["phase"], 3);
  EXPECT_EQ(summary["files_to_download"], 2);
  EXPECT_EQ(summary["bytes_to_download"], 75000);
  EXPECT_EQ(summary["files_to_delete"], 0);
  EXPECT_EQ(summary["revision"], "rev-3\uFFFD\uFFFD[2J");
  EXPECT_EQ(summary["status"], "Cliente no instalado · 2 archivos (73 KB)");

  CliRun update = Cli(Engine("update"));
  EXPECT_EQ(update.status, 0) << update.out;
  EXPECT_THAT(update.lines, ::testing::Contains("Descargando…"));
  EXPECT_EQ(update.lines.back(), "Cliente actualizado. ¡Listo para jugar!");
  EXPECT_TRUE(Installed("sub/b.bin") == published_["sub/b.bin"]);

  CliRun verify = Cli(Engine("verify") + " --json");
  EXPECT_EQ(verify.status, 0) << verify.out;
  EXPECT_EQ(nlohmann::json::parse(verify.lines.back())["phase"], 6);
}

// The window (here: this process) holds the folder; a brisal-cli on it must neither
// write the state file nor the partial files the window writes.
TEST_F(CliTest, AFolderInUseByAnotherEngineFailsWithItsReason) {
  Publish({{"a.bin", "a"}});
  FolderLock window;
  ASSERT_EQ(window.Acquire(install_.path()), FolderLock::Result::kHeld);
  CliRun refused = Cli(Engine("update"));
  EXPECT_EQ(refused.status, 1) << refused.out;
  EXPECT_EQ(refused.lines.back(), "Otro proceso del launcher está usando esta carpeta");
  EXPECT_FALSE(FileExists(InstallPath("a.bin")));
}

TEST_F(CliTest, OfflineFailedAndUsageStatuses) {
  Publish({{"a.bin", "a"}});
  server_.SetHandler("/brisal/manifest.json",
                     [](const HttpTestRequest&) { return HttpTestResponse::WithStatus(500); });
  CliRun failed = Cli(Engine("check"));
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.lines.back(), "El servidor respondió HTTP 500 al pedir manifest.json");

  Install(".brisal_state.json", R"({"files":{"a.bin":[1,1,"x"]},"revision":""})");
  CliRun offline = Cli(Engine("check"));
  EXPECT_EQ(offline.status, 3);
  EXPECT_EQ(offline.lines.back(),
            "Modo sin conexión · El servidor respondió HTTP 500 al pedir manifest.json");

  EXPECT_EQ(Cli("").status, 2);
  EXPECT_EQ(Cli("bogus").status, 2);
  EXPECT_EQ(Cli("check --frobnicate").status, 2);
  EXPECT_EQ(Cli("check --config").status, 2);
  EXPECT_EQ(Cli("manifest").status, 2);
}

TEST_F(CliTest, ManifestDescribesAFolderTheLauncherCanInstall) {
  TempDir published;
  const std::string large = MakeContent(1500000, 1);
  WriteFile(published.Sub("z.bin"), large);
  WriteFile(published.Sub("data/a b.txt"), "hola");
  WriteFile(published.Sub("data/vacio"), "");
  WriteFile(published.Sub("data/x.bin.bpart"), "partial");
  WriteFile(published.Sub("data/y.tmp"), "temporary");
  WriteFile(published.Sub(".brisal_state.json"), "{}");
  // Twice: the second walk finds the first one's output, manifest and block maps, in
  // the folder it publishes.
  for (int run_number = 0; run_number < 2; ++run_number) {
    CliRun run = Cli("manifest \"" + published.path() + "\" --revision r9 --output \"" +
                     published.Sub("m.json") + "\"");
    ASSERT_EQ(run.status, 0) << run.out;
  }
  std::string text = ReadFile(published.Sub("m.json"));
  Manifest manifest;
  Message error;
  ASSERT_TRUE(ParseManifest(text, manifest, error)) << Sentence(error);
  EXPECT_EQ(manifest.revision, "r9");
  ASSERT_EQ(manifest.files.size(), 3u);
  EXPECT_EQ(manifest.files[0].path, "data/a b.txt");
  EXPECT_EQ(manifest.files[0].sha256, Sha256Of("hola"));
  EXPECT_EQ(manifest.files[1].path, "data/vacio");
  EXPECT_EQ(manifest.files[2].path, "z.bin");
  EXPECT_EQ(manifest.files[2].size, large.size());
  // Only files large enough to be worth it get a block map, named by their digest.
  BlockMap map;
  std::string why;
  EXPECT_TRUE(ParseBlockMap(ReadFile(published.Sub("blocks/" + Sha256Of(large))), large.size(),
                            Sha256Of(large), map, why))
      << why;
  EXPECT_FALSE(FileExists(published.Sub("blocks/" + Sha256Of("hola"))));

#ifndef _WIN32
  // Windows cannot even create such a name; elsewhere the launcher could never
  // install it, so it must not be published.
  WriteFile(published.Sub("bad name."), "x");
  CliRun refused = Cli("manifest \"" + published.path() + "\"");
  EXPECT_EQ(refused.status, 1);
  EXPECT_THAT(refused.out, ::testing::HasSubstr("bad name."));
#endif
}

// The operator's whole flow: a key pair, a signed manifest, a launcher configured with
// the printed key that installs from it, and refuses it under any other key.
TEST_F(CliTest, KeygenAndSignedManifestAreWhatTheLauncherTakes) {
  const std::string key_path = config_.Sub("operador.pem");
  CliRun keygen = Cli("keygen \"" + key_path + "\"");
  ASSERT_EQ(keygen.status, 0) << keygen.out;
  std::string key;
  for (const std::string& line : keygen.lines) {
    if (line.rfind("\"manifest_key\": ", 0) == 0)
      key = nlohmann::json::parse("{" + line + "}")["manifest_key"];
  }
  ASSERT_FALSE(key.empty()) << keygen.out;
#ifdef _WIN32
  EXPECT_TRUE(OnlyTheUserMayOpen(key_path));
#else
  EXPECT_EQ(std::filesystem::status(key_path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
  const std::string pem = ReadFile(key_path);
  EXPECT_EQ(Cli("keygen \"" + key_path + "\"").status, 1);
  EXPECT_EQ(ReadFile(key_path), pem);  // a key is never replaced

  TempDir published;
  const std::string client = MakeContent(3000, 1);
  WriteFile(published.Sub("Brisal Client_GL.exe"), client);
  const std::string out = published.Sub("m.json");
  CliRun made = Cli("manifest \"" + published.path() + "\" --sign \"" + key_path +
                    "\" --serial 5 --expires 30 --output \"" + out + "\"");
  ASSERT_EQ(made.status, 0) << made.out;
  const std::string body = ReadFile(out);
  Manifest manifest;
  Message error;
  ASSERT_TRUE(ParseManifest(body, manifest, error)) << Sentence(error);
  EXPECT_EQ(manifest.serial, 5u);
  ASSERT_TRUE(manifest.expires);
  EXPECT_NEAR(static_cast<double>(*manifest.expires - UnixTimeNow()), 30 * 86400.0, 600.0);
  server_.AddFile("/brisal/manifest.json", body);
  server_.AddFile("/brisal/manifest.json.sig", ReadFile(out + ".sig"));
  server_.AddFile(BuildObjectName("/brisal/client/", "Brisal Client_GL.exe"), client);

  auto configure = [&](const std::string& manifest_key) {
    WriteFile(config_.Sub("config.json"), nlohmann::json({{"base_url", server_.Url("/brisal/")},
                                                          {"manifest", "manifest.json"},
                                                          {"manifest_key", manifest_key}})
                                              .dump());
  };
  configure(kOtherPublicKey);
  CliRun other = Cli(Engine("update"));
  EXPECT_EQ(other.status, 1);
  EXPECT_EQ(other.lines.back(), Sentence(Message(MessageCode::kSignatureInvalid)));
  EXPECT_FALSE(FileExists(InstallPath("Brisal Client_GL.exe")));

  configure("no es una clave");
  CliRun bad = Cli(Engine("update"));
  EXPECT_EQ(bad.status, 1);
  EXPECT_THAT(bad.lines,
              ::testing::Contains(Sentence(Message(MessageCode::kConfigManifestKeyInvalid))));
  EXPECT_EQ(bad.lines.back(), Sentence(Message(MessageCode::kManifestKeyInvalid)));

  configure(key);
  CliRun update = Cli(Engine("update"));
  EXPECT_EQ(update.status, 0) << update.out;
  EXPECT_TRUE(Installed("Brisal Client_GL.exe") == client);

  EXPECT_EQ(Cli("manifest \"" + published.path() + "\" --sign \"" + key_path + "\"").status, 2);
  EXPECT_EQ(Cli("manifest \"" + published.path() + "\" --serial 3").status, 2);
  EXPECT_EQ(Cli("manifest \"" + published.path() + "\" --sign k --expires 0 --output x").status, 2);
  EXPECT_EQ(Cli("manifest \"" + published.path() + "\" --sign k --output x").status, 2);
  EXPECT_EQ(Cli("keygen").status, 2);
}

#ifndef _WIN32
// SIGTERM, like Ctrl-C, stops the engine cleanly even while the server keeps its answer
// back: the status says "interrupted" (130), not "killed" (143), and it comes at once.
TEST_F(CliTest, TerminationStopsAStalledCheckCleanly) {
  Publish({{"a.bin", "a"}});
  server_.SetHandler("/brisal/manifest.json", [](const HttpTestRequest&) {
    HttpTestResponse response = HttpTestResponse::WithStatus(200, "{}");
    response.stall_before_headers = true;  // until the server ends
    return response;
  });
  const auto start = std::chrono::steady_clock::now();
  CliRun run = Cli(Engine("check") + " >/dev/null & pid=$!; sleep 1; kill -TERM $pid; wait $pid");
  EXPECT_EQ(run.status, 130) << run.out;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}
#endif

}  // namespace
}  // namespace brisal::testing

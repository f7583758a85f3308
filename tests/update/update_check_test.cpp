#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "client_files/file_state_cache.h"
#include "client_files/signature.h"
#include "config/launcher_config.h"
#include "core/files.h"
#include "core/install_tree.h"
#include "core/paths.h"
#include "core/text.h"
#include "net/http_client.h"
#include "tests/support/signing_vectors.h"
#include "tests/update/engine_fixture.h"
#include "update/engine.h"
#include "update/manifest_trust.h"
#include "update/update_check.h"
#include "update/update_job.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace brisal::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

fs::path FsPath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

// Moves a file's last-write time without touching its bytes.
void ShiftWriteTime(const std::string& path, std::chrono::seconds by) {
  fs::last_write_time(FsPath(path), fs::last_write_time(FsPath(path)) + by);
}

class UpdateCheckTest : public EngineTest {
 protected:
  void InstallAll() {
    for (const auto& [path, content] : published_)
      Install(path, content);
  }
  std::map<std::string, std::string> Client() {
    return {{"Brisal Client_GL.exe", MakeContent(3000, 1)},
            {"data/mapa.pak", MakeContent(70000, 2)},
            {"data/sonidos/viento.ogg", MakeContent(1, 3)},
            {"vacio.txt", ""}};
  }
};

TEST_F(UpdateCheckTest, EmptyFolderIsNotInstalled) {
  Publish(Client());
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kNotInstalled);
  EXPECT_EQ(state_.progress.update_files.load(), 4u);
  EXPECT_EQ(state_.progress.update_bytes.load(), 73001u);
  EXPECT_EQ(state_.plan.to_download.size(), 4u);
  EXPECT_EQ(state_.plan.to_download[0].path, "Brisal Client_GL.exe");  // manifest order
  // The cache is never what creates files in the install folder.
  EXPECT_FALSE(FileExists(InstallPath(".brisal_state.json")));
}

TEST_F(UpdateCheckTest, UnchangedInstallIsTrustedWithoutReadingContent) {
  Publish(Client());
  InstallAll();
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate);
  EXPECT_TRUE(FileExists(InstallPath(".brisal_state.json")));

  // Same size, same last-write time, different bytes: only a check that reads
  // content could notice. The cache must be trusted instead. (The time is set through
  // the same call both times, so both land on the same file-system granularity.)
  const auto stamp =
      fs::last_write_time(FsPath(InstallPath("data/mapa.pak"))) - std::chrono::hours(1);
  fs::last_write_time(FsPath(InstallPath("data/mapa.pak")), stamp);
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate);
  FileInfo before;
  ASSERT_TRUE(GetFileInfo(InstallPath("data/mapa.pak"), before));
  Install("data/mapa.pak", MakeContent(70000, 99));
  fs::last_write_time(FsPath(InstallPath("data/mapa.pak")), stamp);
  FileInfo after;
  ASSERT_TRUE(GetFileInfo(InstallPath("data/mapa.pak"), after));
  ASSERT_EQ(after.mtime, before.mtime);

  state_.progress.bytes_total.store(5);
  state_.progress.bytes_done.store(5);
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
  EXPECT_EQ(state_.progress.bytes_total.load(), 0u);
  EXPECT_EQ(state_.progress.bytes_done.load(), 0u);

  // A full verification does read it, and finds it.
  Check(EngineAction::kVerify);
  EXPECT_EQ(Phase(), UpdatePhase::kUpdateAvailable);
  ASSERT_EQ(state_.plan.to_download.size(), 1u);
  EXPECT_EQ(state_.plan.to_download[0].path, "data/mapa.pak");

  // A trusted record is still compared with the manifest: a file that changed on the
  // server but kept its size must be fetched.
  std::map<std::string, std::string> client = Client();
  client["Brisal Client_GL.exe"] = MakeContent(3000, 77);
  Publish(client, "r2", "\"m2\"");
  Check();
  EXPECT_THAT(state_.plan.to_download,
              Contains(::testing::Field(&ManifestEntry::path, "Brisal Client_GL.exe")));
}

TEST_F(UpdateCheckTest, NewWriteTimeIsRehashedAndFoundIntact) {
  Publish(Client());
  InstallAll();
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate);
  std::uint64_t old_mtime = state_.cache.Lookup("data/mapa.pak")->mtime;

  ShiftWriteTime(InstallPath("data/mapa.pak"), std::chrono::seconds(-3600));
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
  auto entry = state_.cache.Lookup("data/mapa.pak");
  ASSERT_TRUE(entry);
  EXPECT_NE(entry->mtime, old_mtime);
  // The rewritten entry reached the state file.
  std::string saved = Installed(".brisal_state.json");
  EXPECT_THAT(saved, HasSubstr(std::to_string(entry->mtime)));
}

#ifndef _WIN32
// A rewrite of the same size within the same second differs from the record only
// below the second; the check must read the file again, not trust the record.
TEST_F(UpdateCheckTest, ASameSizeRewriteWithinTheSameSecondIsRehashed) {
  Publish(Client());
  InstallAll();
  const std::string path = InstallPath("data/mapa.pak");
  const struct timespec first[2] = {{0, UTIME_OMIT}, {1700000000, 250000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), first, 0), 0);
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate);

  Install("data/mapa.pak", MakeContent(70000, 99));
  const struct timespec second[2] = {{0, UTIME_OMIT}, {1700000000, 250000100}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), second, 0), 0);
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpdateAvailable);
  EXPECT_THAT(state_.plan.to_download,
              ElementsAre(::testing::Field(&ManifestEntry::path, "data/mapa.pak")));
}
#endif

TEST_F(UpdateCheckTest, WrongSizeIsQueuedWithoutHashing) {
  Publish(Client());
  InstallAll();
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate);
  FileState known = *state_.cache.Lookup("data/mapa.pak");

  Install("data/mapa.pak", MakeContent(69999, 2));
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpdateAvailable);
  ASSERT_EQ(state_.plan.to_download.size(), 1u);
  EXPECT_EQ(state_.plan.to_download[0].path, "data/mapa.pak");
  EXPECT_EQ(state_.progress.update_bytes.load(), 70000u);
  // Hashing would have replaced the entry with the new size.
  EXPECT_EQ(state_.cache.Lookup("data/mapa.pak")->size, known.size);
}

TEST_F(UpdateCheckTest, OnlyRecordedObsoleteFilesAreDeletedAndNeverAListedOne) {
  auto client = Client();
  client["viejo.dat"] = "antiguo";
  client["Data/Mayus.bin"] = "m";
  client["Ñandú/ΣΟΦΊΑ.pak"] = "n";
  Publish(client);
  InstallAll();
  Install("del_jugador.cfg", "mio");  // never recorded by the launcher
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate);

  // The next revision drops one file and changes only the letter case of another.
  client.erase("viejo.dat");
  client.erase("Data/Mayus.bin");
  client["data/mayus.bin"] = "m";
  Install("data/mayus.bin", "m");
  client.erase("Ñandú/ΣΟΦΊΑ.pak");
  client["ñandú/σοφία.pak"] = "n";
  Install("ñandú/σοφία.pak", "n");
  Publish(client, "r2", "\"m2\"");
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpdateAvailable);
  EXPECT_THAT(state_.plan.to_delete, ElementsAre("viejo.dat"));
  EXPECT_EQ(state_.progress.update_files.load(), 0u);
}

// The window and brisal-cli (or two brisal-cli) on one folder would overwrite each
// other's state file and partial files.
TEST_F(UpdateCheckTest, OneEnginePerInstallFolder) {
  Publish(Client());
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kNotInstalled);
  {
    FolderLock other;
    ASSERT_EQ(other.Acquire(install_.path()), FolderLock::Result::kHeld);
    Check(EngineAction::kQuietRecheck);
    EXPECT_EQ(Phase(), UpdatePhase::kNotInstalled);
    Update();
    EXPECT_EQ(Phase(), UpdatePhase::kFailed);
    EXPECT_EQ(StatusCode(), MessageCode::kFolderBusy);
    EXPECT_FALSE(FileExists(InstallPath("vacio.txt")));
  }
  Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);  // the other engine is gone
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
}

// Two workers on one partial file cut each other's bytes: one file, one download, and
// once it is installed the check is satisfied.
TEST_F(UpdateCheckTest, APathListedTwiceIsQueuedOnce) {
  const bool case_blind = FileNameKey("A") == FileNameKey("a");
  struct Case {
    std::vector<std::string> paths;
    std::size_t queued;
  };
  const std::vector<Case> cases = {
      {{"dup.pak", "dup.pak"}, 1},
      {{"data/Ñandú.pak", "DATA/ÑANDÚ.PAK"}, case_blind ? 1u : 2u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.paths[1]);
    nlohmann::json doc = {{"revision", "r"}, {"files", nlohmann::json::array()}};
    for (const std::string& path : c.paths) {
      doc["files"].push_back({{"path", path}, {"size", 5}, {"sha256", Sha256Of("bytes")}});
      server_.AddFile(BuildObjectName("/brisal/client/", path), "bytes");
    }
    server_.AddFile("/brisal/manifest.json", doc.dump(), "\"" + c.paths[1] + "\"");
    Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);
    EXPECT_EQ(state_.progress.files_total.load(), c.queued);  // the update job's work list
    EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
    Check();
    EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  }
}

// A second name of the install folder's sub-folder `name`, as the system gives one:
// Windows its 8.3 alias, Linux a link beside it. Empty when there is none.
std::string SecondFolderName(const std::string& folder, const std::string& name) {
#ifdef _WIN32
  wchar_t alias[MAX_PATH];
  const std::wstring full = Utf8ToWide(JoinPath(folder, name));
  const DWORD n = GetShortPathNameW(full.c_str(), alias, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  const std::string second = WideToUtf8(alias).substr(WideToUtf8(alias).rfind('\\') + 1);
  return second == name ? std::string() : second;
#else
  std::error_code error;
  fs::create_directory_symlink(FsPath(name), FsPath(JoinPath(folder, "data~2nd")), error);
  return error ? std::string() : "data~2nd";
#endif
}

// Two names of one file are one entry, as two letter cases are: the one listed first
// is installed and the other never writes over it, and a recorded name that reaches a
// listed file is never deleted with it.
TEST_F(UpdateCheckTest, TwoNamesOfOneFileAreOneEntry) {
  Install("data files/x.pak", "first");
  const std::string second = SecondFolderName(install_.path(), "data files");
  if (second.empty()) GTEST_SKIP() << "no second names here";
  const std::string alias = second + "/x.pak";
  struct Case {
    const char* name;
    std::map<std::string, std::string> listed;
    const char* recorded;  // recorded as if installed earlier, or nullptr
  };
  const Case cases[] = {
      {"BothListed", {{"data files/x.pak", "first"}, {alias, "other"}}, nullptr},
      {"LongNameListedAliasRecorded", {{"data files/x.pak", "first"}}, alias.c_str()},
      {"AliasListedLongNameRecorded", {{alias, "first"}}, "data files/x.pak"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Publish(c.listed, c.name, std::string("\"") + c.name + "\"");
    if (c.recorded != nullptr) state_.cache.Store(c.recorded, FileState{5, 2, Sha256Of("first")});
    Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);
    if (!IsSafeRelativePath(alias)) {  // the system's own alias shape: refused outright
      EXPECT_EQ(StatusCode(), MessageCode::kManifestUnsafePath);
      continue;
    }
    EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
    EXPECT_EQ(Installed("data files/x.pak"), c.listed.begin()->second);  // listed first
    Check();
    EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  }
}

TEST_F(UpdateCheckTest, UnsafeKeysInAHandEditedStateFileAreNeverDeletionCandidates) {
  Publish(Client());
  InstallAll();
  nlohmann::json doc = {{"revision", "r0"},
                        {"files",
                         {{"../fuera.txt", {1, 2, std::string(64, 'a')}},
                          {"/etc/passwd", {1, 2, std::string(64, 'a')}},
                          {"sobra.txt", {1, 2, std::string(64, 'a')}}}}};
  Install(".brisal_state.json", doc.dump());
  Check();
  EXPECT_THAT(state_.plan.to_delete, ElementsAre("sobra.txt"));
}

TEST_F(UpdateCheckTest, UnreachableServerIsOfflineOnlyForAnInstalledClient) {
  Publish(Client());
  std::string dead_url;
  {
    HttpTestServer gone;
    dead_url = gone.Url("/brisal/");
  }
  UseBaseUrl(dead_url);
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kFailed);
  EXPECT_EQ(Status(), "No se pudo conectar con el servidor (¿está encendido?)");
  EXPECT_THAT(LogLines(),
              Contains("manifiesto: No se pudo conectar con el servidor (¿está encendido?)"));
  EXPECT_EQ(state_.jobs.server_failures.load(), 1u);

  UseBaseUrl(settings_.base_url = server_.Url("/brisal/"));
  InstallAll();
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate);

  UseBaseUrl(dead_url);
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kOffline);
  EXPECT_EQ(Status(), "Modo sin conexión · No se pudo conectar con el servidor (¿está encendido?)");

  // A quiet re-check from "update available" changes nothing.
  SetPhase(state_, UpdatePhase::kUpdateAvailable);
  Check(EngineAction::kQuietRecheck);
  EXPECT_EQ(Phase(), UpdatePhase::kUpdateAvailable);
}

TEST_F(UpdateCheckTest, RefusedAndInvalidManifestsFailWithTheirSentence) {
  server_.SetHandler("/brisal/manifest.json",
                     [](const HttpTestRequest&) { return HttpTestResponse::WithStatus(503); });
  Check();
  EXPECT_EQ(state_.jobs.server_failures.load(), 1u);
  server_.SetHandler("/brisal/manifest.json",
                     [](const HttpTestRequest&) { return HttpTestResponse::WithStatus(404); });
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kFailed);
  EXPECT_EQ(Status(), "El servidor respondió HTTP 404 al pedir manifest.json");
  EXPECT_EQ(state_.jobs.server_failures.load(), 0u);

  // "Not modified" means nothing when no manifest is held.
  server_.SetHandler("/brisal/manifest.json",
                     [](const HttpTestRequest&) { return HttpTestResponse::WithStatus(304); });
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kFailed);
  EXPECT_EQ(Status(), "El servidor respondió HTTP 304 al pedir manifest.json");

  server_.SetHandler("/brisal/manifest.json", [](const HttpTestRequest&) {
    return HttpTestResponse::WithStatus(200, R"({"revision": 7, "files": []})");
  });
  Check();
  EXPECT_EQ(Status(), "El servidor devolvió un manifiesto inválido");
  EXPECT_THAT(LogLines(),
              Contains("manifiesto invalido: El servidor devolvió un manifiesto inválido"));

  UseBaseUrl("ftp://127.0.0.1/brisal/");
  Check();
  EXPECT_EQ(Status(), "La dirección del servidor no es válida (base_url en config.json)");
}

TEST_F(UpdateCheckTest, NotModifiedManifestIsReusedOrIgnoredWhenQuiet) {
  Publish(Client());
  InstallAll();
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate);
  const std::size_t lines_before = LogLines().size();

  Check(EngineAction::kQuietRecheck);
  EXPECT_EQ(server_.Requests().back().Header("If-None-Match"), "\"m1\"");
  EXPECT_EQ(server_.Requests().back().Header("Cache-Control"), "no-cache");
  EXPECT_EQ(LogLines().size(), lines_before);  // nothing compared, nothing logged

  // A visible check compares the stored manifest again and notices a lost file.
  DeleteFileAt(InstallPath("vacio.txt"));
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpdateAvailable);
  ASSERT_EQ(state_.plan.to_download.size(), 1u);
  EXPECT_EQ(state_.plan.to_download[0].path, "vacio.txt");

  // A verification never sends the ETag.
  Check(EngineAction::kVerify);
  EXPECT_FALSE(server_.Requests().back().HasHeader("If-None-Match"));
}

// Files are hashed largest first on several threads; each verdict must still land on
// its own file, and the plan keep manifest order.
TEST_F(UpdateCheckTest, AVerificationJudgesEachFileWhateverOrderItIsHashedIn) {
  enum Kind { kIntact, kAltered, kMissing };
  std::map<std::string, std::string> client;
  std::map<std::string, Kind> kinds;
  for (int i = 0; i < 24; ++i) {
    // Sizes rise and fall against the name order, so hashing order is another one.
    const std::string path = StringPrintf("f%02d", i);
    client[path] = MakeContent(1000 + static_cast<std::size_t>((i * 7919) % 23) * 9000, i);
    kinds[path] = i % 5 == 1 ? kAltered : i % 7 == 3 ? kMissing : kIntact;
  }
  Publish(client);
  std::vector<std::string> expected;
  for (const auto& [path, content] : client) {
    if (kinds[path] == kMissing) {
      expected.push_back(path);
      continue;
    }
    std::string bytes = content;
    if (kinds[path] == kAltered) {
      bytes[bytes.size() / 2] ^= 0x5a;
      expected.push_back(path);
    }
    Install(path, bytes);
  }

  for (EngineAction action : {EngineAction::kCheck, EngineAction::kVerify}) {
    SCOPED_TRACE(static_cast<int>(action));
    Check(action);
    EXPECT_EQ(Phase(), UpdatePhase::kUpdateAvailable) << Status();
    std::vector<std::string> queued;
    for (const ManifestEntry& entry : state_.plan.to_download)
      queued.push_back(entry.path);
    EXPECT_EQ(queued, expected);
    EXPECT_EQ(state_.progress.files_done.load(), client.size());
    for (const auto& [path, content] : client) {
      auto known = state_.cache.Lookup(path);
      if (kinds[path] == kMissing) {
        EXPECT_FALSE(known) << path;
      } else {
        ASSERT_TRUE(known) << path;
        EXPECT_EQ(known->sha256 == Sha256Of(content), kinds[path] == kIntact) << path;
      }
    }
  }
}

TEST_F(UpdateCheckTest, CancelDuringAVerificationReturnsToTheSettledPhase) {
  std::map<std::string, std::string> client;
  for (int i = 0; i < 40; ++i)
    client[StringPrintf("f%d", i)] = MakeContent(400000, i);
  Publish(client);
  for (const auto& [path, content] : client)
    Install(path, content);
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate);
  const std::size_t lines_before = LogLines().size();

  std::atomic<bool> stop{false};
  std::thread canceller([&] {
    while (!stop &&
           !(Phase() == UpdatePhase::kVerifying && state_.progress.files_done.load() >= 2)) {
      std::this_thread::yield();
    }
    state_.jobs.cancel.store(true);
  });
  Check(EngineAction::kVerify);
  stop = true;
  canceller.join();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
  EXPECT_EQ(Status(), "");
  EXPECT_LT(state_.progress.files_done.load(), 40u);
  EXPECT_EQ(LogLines().size(), lines_before);  // no comprobacion line for a cancelled pass
}

// The operator signs the manifest; a launcher holding the public key takes nothing
// else. The installed client (serial 7, verified) is what every forgery tries to
// replace.
class SignedCheckTest : public UpdateCheckTest {
 protected:
  void SetUp() override {
    settings_.manifest_keys = {kVectorPublicKey};
    HandOverSettings(state_, settings_);
    Publish(Client());
    InstallAll();
    Serve(Body(7), Sign(Body(7)), "\"s7\"");
    Check();
    ASSERT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  }

  // One expiry for the whole run, so that a body and its signature always agree.
  static const std::string& Tomorrow() {
    static const std::string tomorrow = FormatUtcTime(UnixTimeNow() + 86400);
    return tomorrow;
  }
  // The published manifest with the given serial and expiry (nothing: left out).
  std::string Body(std::optional<std::uint64_t> serial,
                   std::optional<std::string> expires = Tomorrow(),
                   const char* revision = "r1") {
    nlohmann::json doc = {{"revision", revision}, {"files", nlohmann::json::array()}};
    if (serial) doc["serial"] = *serial;
    if (expires) doc["expires"] = *expires;
    for (const auto& [path, content] : published_) {
      doc["files"].push_back(
          {{"path", path}, {"size", content.size()}, {"sha256", Sha256Of(content)}});
    }
    return doc.dump(2);
  }
  static std::string Sign(const std::string& body, const char* key = kVectorPrivateKey) {
    std::string signature, public_key;
    Message error;
    EXPECT_TRUE(SignMessage(key, body, signature, public_key, error)) << Sentence(error);
    return EncodeBase64(signature) + "\n";
  }
  void Serve(const std::string& body, const std::string& sig, const std::string& etag) {
    server_.AddFile("/brisal/manifest.json", body, etag);
    if (sig.empty()) {
      server_.SetHandler("/brisal/manifest.json.sig",
                         [](const HttpTestRequest&) { return HttpTestResponse::WithStatus(404); });
    } else {
      server_.SetHandler("/brisal/manifest.json.sig", [sig](const HttpTestRequest&) {
        return HttpTestResponse::WithStatus(200, sig);
      });
    }
  }
};

TEST_F(SignedCheckTest, VerifiedManifestKeepsItsSerialAndA304KeepsItsSignature) {
  EXPECT_EQ(state_.cache.Serial(), 7u);
  EXPECT_THAT(Installed(".brisal_state.json"), HasSubstr(",\"serial\":7}"));
  EXPECT_EQ(RequestsFor("manifest.json.sig"), 1);

  Check();  // the server answers 304 to the stored ETag
  EXPECT_EQ(server_.Requests().back().Header("If-None-Match"), "\"s7\"");
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
  EXPECT_EQ(RequestsFor("manifest.json.sig"), 1);

  // A newer serial is taken and remembered for this folder across restarts.
  Serve(Body(9), Sign(Body(9)), "\"s9\"");
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
  FileStateCache reloaded;
  reloaded.Load(install_.path());
  EXPECT_EQ(reloaded.Serial(), 9u);

  // A plan made from a manifest that expires meanwhile is neither carried out nor, on
  // a 304 to a quiet re-check, called current: refused, and the manifest forgotten.
  const std::int64_t soon = UnixTimeNow() + 3;
  published_["Brisal Client_GL.exe"] = MakeContent(3000, 2);
  Serve(Body(10, FormatUtcTime(soon)), Sign(Body(10, FormatUtcTime(soon))), "\"s10\"");
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpdateAvailable) << Status();
  while (UnixTimeNow() <= soon)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Update();
  EXPECT_EQ(StatusCode(), MessageCode::kManifestExpired);
  EXPECT_EQ(Installed("Brisal Client_GL.exe"), MakeContent(3000, 1));
  const int signatures = RequestsFor("manifest.json.sig");
  SetPhase(state_, UpdatePhase::kUpToDate);
  Check(EngineAction::kQuietRecheck);
  EXPECT_EQ(server_.Requests().back().Header("If-None-Match"), "\"s10\"");
  EXPECT_EQ(RequestsFor("manifest.json.sig"), signatures);
  EXPECT_EQ(Phase(), UpdatePhase::kFailed);
  EXPECT_EQ(StatusCode(), MessageCode::kManifestExpired);
  EXPECT_FALSE(state_.plan.have_manifest);
}

// The serial this folder accepted is kept in the player's data folder too: neither a
// lost state file nor a second engine on the same folder lowers it.
TEST_F(SignedCheckTest, TheAcceptedSerialOutlivesTheStateFileAndHoldsForEveryEngine) {
  LauncherState other;
  HandOverSettings(other, settings_);
  Serve(Body(9), Sign(Body(9)), "\"s9\"");
  RunJobWrapped(other, JobKind::kExclusive,
                [&] { RunUpdateCheck(other, EngineAction::kCheck, AfterCheck::kStop); });
  ASSERT_EQ(CurrentPhase(other), UpdatePhase::kUpToDate) << StatusText(other);

  // This engine still holds 7 in memory; the state file is wiped and forgotten too.
  Install(".brisal_state.json", "{");
  state_.cache.Reset();
  Serve(Body(8), Sign(Body(8)), "\"s8\"");
  Check();
  EXPECT_EQ(StatusCode(), MessageCode::kManifestRolledBack);
}

// The signature makes the source irrelevant: with a key, a mirror stands in for a
// base_url that fails to give the manifest; unsigned, only base_url says what to install.
TEST_F(SignedCheckTest, AMirrorStandsInForTheManifestOnlyWhenItIsSigned) {
  HttpTestServer mirror;
  mirror.AddFile("/brisal/manifest.json", Body(8), "\"m8\"");
  mirror.SetHandler("/brisal/manifest.json.sig", [sig = Sign(Body(8))](const HttpTestRequest&) {
    return HttpTestResponse::WithStatus(200, sig);
  });
  server_.SetHandler("/brisal/manifest.json",
                     [](const HttpTestRequest&) { return HttpTestResponse::WithStatus(503); });
  settings_.mirrors = {mirror.Url("/brisal/")};
  HandOverSettings(state_, settings_);
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  EXPECT_EQ(state_.cache.Serial(), 8u);

  settings_.manifest_keys.clear();
  HandOverSettings(state_, settings_);
  const std::size_t asked = mirror.Requests().size();
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kOffline);
  EXPECT_EQ(mirror.Requests().size(), asked);
}

TEST_F(SignedCheckTest, EveryForgeryIsRefusedAndTheInstalledClientStays) {
  // The operator's next manifest, and the same with the size and hash of a program a
  // man in the middle would like installed instead.
  const std::string genuine = Body(8);
  const std::string genuine_sig = Sign(genuine);
  published_["Brisal Client_GL.exe"] = MakeContent(2999, 666);
  const std::string forged = Body(8);
  std::string flipped = Body(7);
  flipped[flipped.find("\"sha256\": \"") + 11] = 'x';
  const std::string past = FormatUtcTime(UnixTimeNow() - 60);
  const std::string future = FormatUtcTime(UnixTimeNow() + 3600);
  const struct {
    const char* name;
    std::string body, sig;
    MessageCode expected;
    std::vector<std::string> keys = {kVectorPublicKey};
    bool config_unusable = false;
  } cases[] = {
      {"the client's size and hash changed", forged, genuine_sig, MessageCode::kSignatureInvalid},
      {"a byte added", genuine + " ", genuine_sig, MessageCode::kSignatureInvalid},
      {"no signature", forged, "", MessageCode::kSignatureMissing},
      {"truncated signature", genuine, genuine_sig.substr(0, 40), MessageCode::kSignatureInvalid},
      {"garbage signature", forged, "hola\n", MessageCode::kSignatureInvalid},
      {"valid base64, not a signature", forged, EncodeBase64(std::string(64, '\1')),
       MessageCode::kSignatureInvalid},
      {"another key's signature", forged, Sign(forged, kOtherPrivateKey),
       MessageCode::kSignatureInvalid},
      {"an older serial", Body(6), Sign(Body(6)), MessageCode::kManifestRolledBack},
      {"no serial at all", Body(std::nullopt), Sign(Body(std::nullopt)),
       MessageCode::kManifestRolledBack},
      {"expired", Body(8, past), Sign(Body(8, past)), MessageCode::kManifestExpired},
      {"unreadable expiry", Body(8, "mañana"), Sign(Body(8, "mañana")),
       MessageCode::kManifestGuardsMalformed},
      {"no expiry", Body(8, std::nullopt), Sign(Body(8, std::nullopt)),
       MessageCode::kManifestNoExpiry},
      {"the accepted serial on other bytes", Body(7, future, "r0"), Sign(Body(7, future, "r0")),
       MessageCode::kManifestSerialReused},
      {"a key that is not one", genuine, genuine_sig, MessageCode::kManifestKeyInvalid, {"BBBB"}},
      {"a key that is not one beside the right one", genuine, genuine_sig,
       MessageCode::kManifestKeyInvalid, {kVectorPublicKey, "BBBB"}},
      {"config.json unusable", genuine, genuine_sig, MessageCode::kConfigUnusable, {}, true},
      {"a well-signed manifest refused by the parser", flipped, Sign(flipped),
       MessageCode::kManifestBadHash},
  };
  int etag = 0;
  for (const auto& c : cases) {
    settings_.manifest_keys = c.keys;
    settings_.config_unusable = c.config_unusable;
    HandOverSettings(state_, settings_);
    std::string tag = "\"f";  // a new ETag a case, so nothing is answered with 304
    tag += std::to_string(++etag);
    tag += '"';
    Serve(c.body, c.sig, tag);
    Check();
    EXPECT_EQ(Phase(), UpdatePhase::kFailed) << c.name;
    EXPECT_EQ(StatusCode(), c.expected) << c.name;
    EXPECT_TRUE(state_.plan.to_download.empty()) << c.name;
    EXPECT_EQ(state_.cache.Serial(), 7u) << c.name;
  }
  EXPECT_EQ(Installed("Brisal Client_GL.exe"), MakeContent(3000, 1));

  // Good again: what the operator signs is taken, with a future expiry, by a launcher
  // that holds the next key beside it.
  settings_.manifest_keys = {kOtherPublicKey, kVectorPublicKey};
  settings_.config_unusable = false;
  HandOverSettings(state_, settings_);
  Serve(Body(8, future), Sign(Body(8, future)), "\"g\"");
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpdateAvailable) << Status();
  EXPECT_EQ(state_.cache.Serial(), 8u);
}

TEST_F(UpdateCheckTest, WithoutAKeySerialAndExpiryAreIgnoredAndNoSignatureIsAsked) {
  Publish(Client());
  std::string body = R"({"serial": 1, "expires": "2001-01-01T00:00:00Z", "files": [)";
  bool first = true;
  for (const auto& [path, content] : published_) {
    if (!first) body += ',';
    body +=
        nlohmann::json({{"path", path}, {"size", content.size()}, {"sha256", Sha256Of(content)}})
            .dump();
    first = false;
  }
  server_.AddFile("/brisal/manifest.json", body + "]}");
  InstallAll();
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
  EXPECT_EQ(RequestsFor("manifest.json.sig"), 0);
  EXPECT_THAT(Installed(".brisal_state.json"), Not(HasSubstr("serial")));
}

}  // namespace
}  // namespace brisal::testing

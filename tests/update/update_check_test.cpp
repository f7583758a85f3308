#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/files.h"
#include "core/install_tree.h"
#include "core/paths.h"
#include "core/text.h"
#include "net/http_client.h"
#include "tests/update/engine_fixture.h"
#include "update/update_check.h"
#include "update/update_job.h"

namespace brisal::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

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
  EXPECT_EQ(state_.update_files.load(), 4u);
  EXPECT_EQ(state_.update_bytes.load(), 73001u);
  EXPECT_EQ(state_.to_download.size(), 4u);
  EXPECT_EQ(state_.to_download[0].path, "Brisal Client_GL.exe");  // manifest order
  EXPECT_THAT(LogLines(),
              Contains("comprobacion: 4 archivos en el manifiesto, 4 por descargar (73001 bytes), "
                       "0 por borrar -> fase 3"));
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

  state_.bytes_total.store(5);
  state_.bytes_done.store(5);
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
  EXPECT_EQ(state_.bytes_total.load(), 0u);
  EXPECT_EQ(state_.bytes_done.load(), 0u);

  // A full verification does read it, and finds it.
  Check(/*verify_all=*/true);
  EXPECT_EQ(Phase(), UpdatePhase::kUpdateAvailable);
  ASSERT_EQ(state_.to_download.size(), 1u);
  EXPECT_EQ(state_.to_download[0].path, "data/mapa.pak");
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

TEST_F(UpdateCheckTest, WrongSizeIsQueuedWithoutHashing) {
  Publish(Client());
  InstallAll();
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate);
  FileState known = *state_.cache.Lookup("data/mapa.pak");

  Install("data/mapa.pak", MakeContent(69999, 2));
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpdateAvailable);
  ASSERT_EQ(state_.to_download.size(), 1u);
  EXPECT_EQ(state_.to_download[0].path, "data/mapa.pak");
  EXPECT_EQ(state_.update_bytes.load(), 70000u);
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
  EXPECT_THAT(state_.to_delete, ElementsAre("viejo.dat"));
  EXPECT_EQ(state_.update_files.load(), 0u);
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
    Check(false, /*quiet=*/true);
    EXPECT_EQ(Phase(), UpdatePhase::kNotInstalled);
    Update();
    EXPECT_EQ(Phase(), UpdatePhase::kFailed);
    EXPECT_EQ(Status(), kFolderBusy);
    EXPECT_FALSE(FileExists(InstallPath("vacio.txt")));
  }
  Check(false, false, /*auto_update=*/true);  // the other engine is gone
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
    Check(false, false, /*auto_update=*/true);
    EXPECT_EQ(state_.files_total.load(), c.queued);  // the update job's work list
    EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
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
  EXPECT_THAT(state_.to_delete, ElementsAre("sobra.txt"));
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

  UseBaseUrl(settings_.base_url = server_.Url("/brisal/"));
  InstallAll();
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate);

  UseBaseUrl(dead_url);
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kOffline);
  EXPECT_EQ(Status(), "Modo sin conexión · No se pudo conectar con el servidor (¿está encendido?)");

  // A quiet re-check from "update available" changes nothing.
  SetPhase(state_, UpdatePhase::kUpdateAvailable, "");
  Check(false, /*quiet=*/true);
  EXPECT_EQ(Phase(), UpdatePhase::kUpdateAvailable);
}

TEST_F(UpdateCheckTest, RefusedAndInvalidManifestsFailWithTheirSentence) {
  server_.SetHandler("/brisal/manifest.json",
                     [](const HttpTestRequest&) { return HttpTestResponse::WithStatus(404); });
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kFailed);
  EXPECT_EQ(Status(), "El servidor respondió HTTP 404 al pedir manifest.json");

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

  Check(false, /*quiet=*/true);
  EXPECT_EQ(server_.Requests().back().Header("If-None-Match"), "\"m1\"");
  EXPECT_EQ(server_.Requests().back().Header("Cache-Control"), "no-cache");
  EXPECT_EQ(LogLines().size(), lines_before);  // nothing compared, nothing logged

  // A visible check compares the stored manifest again and notices a lost file.
  DeleteFileAt(InstallPath("vacio.txt"));
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpdateAvailable);
  ASSERT_EQ(state_.to_download.size(), 1u);
  EXPECT_EQ(state_.to_download[0].path, "vacio.txt");

  // A verification never sends the ETag.
  Check(/*verify_all=*/true);
  EXPECT_FALSE(server_.Requests().back().HasHeader("If-None-Match"));
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
    while (!stop && !(Phase() == UpdatePhase::kVerifying && state_.files_done.load() >= 2)) {
      std::this_thread::yield();
    }
    state_.cancel.store(true);
  });
  Check(/*verify_all=*/true);
  stop = true;
  canceller.join();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
  EXPECT_EQ(Status(), "");
  EXPECT_LT(state_.files_done.load(), 40u);
  EXPECT_EQ(LogLines().size(), lines_before);  // no comprobacion line for a cancelled pass
}

}  // namespace
}  // namespace brisal::testing

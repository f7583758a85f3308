#include "update/update_job.h"

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
#include "update/download_sources.h"
#include "tests/update/engine_fixture.h"

namespace brisal::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class UpdateJobTest : public EngineTest {
 protected:
  void SetConnections(int n) {
    settings_.connections = n;
    HandOverSettings(state_, settings_);
  }
  std::vector<std::string> FileRequestOrder() {
    std::vector<std::string> order;
    for (const auto& request : server_.Requests()) {
      const std::string prefix = "/brisal/client/";
      if (request.target.rfind(prefix, 0) == 0)
        order.push_back(request.target.substr(prefix.size()));
    }
    return order;
  }
  // Workers keep their last file in their slot, so used slots count started workers.
  int SlotsUsed() {
    int used = 0;
    for (WorkerSlot& slot : state_.progress.slots) {
      MutexLock guard(slot.lock);
      used += slot.file_path.empty() ? 0 : 1;
    }
    return used;
  }
  int CountLines(const std::string& prefix) {
    int n = 0;
    for (const auto& line : LogLines())
      n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
  void ExpectInstalledExactly() {
    // Hashes, not contents: a failure must not print megabytes of binary.
    for (const auto& [path, content] : published_) {
      EXPECT_EQ(Sha256Of(Installed(path)), Sha256Of(content)) << path;
    }
  }
};

TEST_F(UpdateJobTest, InstallsVerifiesRecordsTheRevisionAndSettles) {
  std::map<std::string, std::string> client;
  for (int i = 0; i < 20; ++i)
    client["data/f" + std::to_string(i)] = MakeContent(1000 * i, i);
  client["Brisal Client_GL.exe"] = MakeContent(90000, 99);
  Publish(client, "rev-7");
  Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  ExpectInstalledExactly();
  EXPECT_EQ(state_.progress.bytes_done.load(), state_.progress.bytes_total.load());
  EXPECT_EQ(state_.progress.files_done.load(), 21u);
  EXPECT_EQ(state_.progress.update_files.load(), 0u);
  EXPECT_THAT(LogLines(), Contains("actualizacion completada (21 archivos)"));
  auto saved = nlohmann::json::parse(Installed(".brisal_state.json"));
  EXPECT_EQ(saved["revision"], "rev-7");
  EXPECT_EQ(saved["files"].size(), 21u);

  // Nothing left behind, and the next check trusts what was installed.
  EXPECT_FALSE(FileExists(InstallPath("data/f3.bpart")));
  Check();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
}

// 240 bytes of manifest path below an install folder as deep as the default one is
// past Windows' 260 characters: the deep client installs, updates and verifies all the
// same.
TEST_F(UpdateJobTest, ADeepClientInstallsUpdatesAndVerifies) {
  settings_.install_dir = JoinPath(install_.path(), "Brisal Ascent Cliente");
  HandOverSettings(state_, settings_);
  const std::string segment(59, 'n');
  const std::string deep =
      segment + "a/" + segment + "b/" + segment + "c/" + std::string(53, 'd') + ".pak";
  ASSERT_EQ(deep.size(), 240u);
  const std::string local = JoinPath(settings_.install_dir, ManifestPathToNative(deep));
  for (unsigned revision : {1u, 2u}) {
    SCOPED_TRACE(revision);
    const std::string content = MakeContent(5000, revision);
    Publish({{deep, content}}, "r" + std::to_string(revision),
            "\"" + std::to_string(revision) + "\"");
    Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);
    EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
    std::string installed;
    EXPECT_TRUE(ReadWholeFile(local, installed) && installed == content);
  }
  Check(EngineAction::kVerify);
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  EXPECT_EQ(state_.progress.files_done.load(), 1u);
}

TEST_F(UpdateJobTest, DoesNothingOutsideTheInstallablePhases) {
  Publish({{"a", "x"}});
  Check();
  SetPhase(state_, UpdatePhase::kUpToDate);
  state_.progress.bytes_total.store(123);
  Update();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
  EXPECT_EQ(state_.progress.bytes_total.load(), 123u);
  EXPECT_FALSE(FileExists(InstallPath("a")));
}

TEST_F(UpdateJobTest, OneWorkerTakesFilesLargestFirstKeepingTiesInPlanOrder) {
  SetConnections(1);
  Publish({{"a", MakeContent(10, 1)},
           {"b", MakeContent(5000, 2)},
           {"c", MakeContent(10, 3)},
           {"d", MakeContent(70000, 4)},
           {"e", MakeContent(10, 5)}});
  Check();
  Update();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
  EXPECT_THAT(FileRequestOrder(), ElementsAre("d", "b", "a", "c", "e"));
  EXPECT_EQ(SlotsUsed(), 1);
}

TEST_F(UpdateJobTest, NeverMoreWorkersThanFiles) {
  SetConnections(8);
  Publish({{"a", "1"}, {"b", "22"}, {"c", "333"}});
  // Slow answers, so that no worker can take a second file before all have started.
  for (const char* name : {"a", "b", "c"}) {
    server_.SetHandler(std::string("/brisal/client/") + name, [this, name](const HttpTestRequest&) {
      HttpTestResponse response = HttpTestResponse::WithStatus(200, published_[name]);
      response.stall_before_headers = true;
      response.stall_for = std::chrono::milliseconds(300);
      return response;
    });
  }
  Check();
  Update();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
  EXPECT_EQ(SlotsUsed(), 3);
}

TEST_F(UpdateJobTest, AFileThatKeepsFailingIsRetriedThreeTimesThenFails) {
  Publish({{"roto.pak", MakeContent(1000, 1)}, {"bien.pak", MakeContent(2000, 2)}});
  server_.SetHandler("/brisal/client/roto.pak",
                     [](const HttpTestRequest&) { return HttpTestResponse::WithStatus(500); });
  Check();
  auto start = std::chrono::steady_clock::now();
  Update();
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(Phase(), UpdatePhase::kFailed);
  EXPECT_EQ(Status(), "HTTP 500 al descargar roto.pak");
  EXPECT_THAT(LogLines(), Contains("reintento 1 de roto.pak: HTTP 500 al descargar roto.pak"));
  EXPECT_THAT(LogLines(), Contains("reintento 2 de roto.pak: HTTP 500 al descargar roto.pak"));
  EXPECT_THAT(LogLines(), Contains("reintento 3 de roto.pak: HTTP 500 al descargar roto.pak"));
  EXPECT_THAT(LogLines(), Contains("actualizacion fallida: HTTP 500 al descargar roto.pak"));
  // 0.7 s + 1.4 s of waits, each scattered down to half of itself at the least.
  EXPECT_GE(elapsed, std::chrono::milliseconds(1050));
  // The other worker's file still arrived and is recorded; the plan is untouched.
  EXPECT_TRUE(Installed("bien.pak") == published_["bien.pak"]);
  EXPECT_TRUE(state_.cache.Lookup("bien.pak"));
  EXPECT_EQ(state_.progress.update_files.load(), 2u);
}

TEST_F(UpdateJobTest, OnlyTheFirstOfTwoFailuresIsShown) {
  SetConnections(2);
  Publish({{"uno", MakeContent(100, 1)}, {"dos", MakeContent(100, 2)}});
  server_.SetHandler("/brisal/client/uno",
                     [](const HttpTestRequest&) { return HttpTestResponse::WithStatus(404); });
  server_.SetHandler("/brisal/client/dos",
                     [](const HttpTestRequest&) { return HttpTestResponse::WithStatus(403); });
  Check();
  Update();
  EXPECT_EQ(Phase(), UpdatePhase::kFailed);
  EXPECT_EQ(CountLines("actualizacion fallida: "), 1);
  const std::string status = Status();
  EXPECT_TRUE(status == "HTTP 404 al descargar uno" || status == "HTTP 403 al descargar dos")
      << status;
  EXPECT_THAT(LogLines(), Contains("actualizacion fallida: " + status));
}

TEST_F(UpdateJobTest, NoWorkerTakesAnotherFileAfterTheJobFailed) {
  // Largest first: one worker takes "fallo" (refused, given up after its three
  // attempts, at most about 3 s with the jittered pauses), the other "lento", which is
  // still arriving then.
  SetConnections(2);
  Publish({{"fallo", MakeContent(3000, 1)},
           {"lento", MakeContent(2000, 2)},
           {"resto1", MakeContent(100, 3)},
           {"resto2", MakeContent(100, 4)}});
  server_.SetHandler("/brisal/client/fallo",
                     [](const HttpTestRequest&) { return HttpTestResponse::WithStatus(404); });
  const std::string slow = MakeContent(2000, 2);
  server_.SetHandler("/brisal/client/lento", [slow](const HttpTestRequest&) {
    HttpTestResponse response = HttpTestResponse::WithStatus(200, slow);
    response.stall_at = 1000;
    response.stall_for = std::chrono::milliseconds(5000);
    return response;
  });
  Check();
  Update();
  EXPECT_EQ(Phase(), UpdatePhase::kFailed);
  EXPECT_EQ(Status(), "HTTP 404 al descargar fallo");
  EXPECT_EQ(RequestsFor("client/resto1") + RequestsFor("client/resto2"), 0);
}

TEST_F(UpdateJobTest, AFailedAttemptGivesBackExactlyTheBytesItCounted) {
  SetConnections(1);
  const std::string content = MakeContent(300000, 5);
  Publish({{"grande.pak", content}});
  std::vector<std::uint64_t> seen_at_request;
  int calls = 0;
  server_.SetHandler("/brisal/client/grande.pak", [&](const HttpTestRequest&) {
    seen_at_request.push_back(state_.progress.bytes_done.load());
    HttpTestResponse response = HttpTestResponse::WithStatus(200, content);
    if (++calls == 1) response.cut_after = 100000;
    return response;
  });
  server_.SetIgnoreRange(false);
  Check();
  Update();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  ASSERT_EQ(seen_at_request.size(), 2u);
  EXPECT_EQ(seen_at_request[0], 0u);
  // Attempt 2 counts its resumed prefix once: attempt 1's bytes were taken back.
  EXPECT_EQ(seen_at_request[1], 100000u);
  EXPECT_EQ(state_.progress.bytes_done.load(), content.size());
  EXPECT_EQ(CountLines("reintento 1 de grande.pak: "), 1);
}

TEST_F(UpdateJobTest, CancelStopsQuietlyAndChecksAfresh) {
  SetConnections(2);
  std::map<std::string, std::string> client;
  for (int i = 0; i < 6; ++i)
    client[StringPrintf("f%d", i)] = MakeContent(200000, i);
  Publish(client);
  server_.SetHandler("/brisal/client/f3", [&](const HttpTestRequest&) {
    HttpTestResponse response = HttpTestResponse::WithStatus(200, published_["f3"]);
    response.stall_at = 1000;  // until released
    state_.jobs.cancel.store(true);
    return response;
  });
  Check();
  Update();
  server_.ReleaseStalls();
  EXPECT_THAT(LogLines(), Contains("actualizacion cancelada"));
  EXPECT_EQ(CountLines("actualizacion fallida"), 0);
  EXPECT_FALSE(state_.jobs.cancel.load());
  // The fresh check concluded the phase: some files are still missing.
  EXPECT_TRUE(Phase() == UpdatePhase::kUpdateAvailable || Phase() == UpdatePhase::kNotInstalled);
  EXPECT_GE(CountLines("comprobacion: "), 2);

  // Neither an update job queued before the cancel nor an auto_update re-check starts
  // the download again; only the player's own request does.
  server_.SetHandler("/brisal/client/f3", [&](const HttpTestRequest&) {
    return HttpTestResponse::WithStatus(200, published_["f3"]);
  });
  const std::size_t fetched = FileRequestOrder().size();
  Update();
  Check(EngineAction::kQuietRecheck, AfterCheck::kUpdateWhenNeeded);
  EXPECT_EQ(FileRequestOrder().size(), fetched);
  EXPECT_NE(Phase(), UpdatePhase::kDownloading);
  state_.jobs.downloads_held = false;  // INSTALAR / ACTUALIZAR
  Update();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
  ExpectInstalledExactly();
}

TEST_F(UpdateJobTest, StateFileIsSavedEvery150FinishedFiles) {
  SetConnections(1);
  std::map<std::string, std::string> client;
  // Sizes fall with the index, so the one worker takes them in index order.
  for (int i = 0; i < 151; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%03d", i);
    client[name] = MakeContent(static_cast<std::size_t>(200 - i), i);
  }
  Publish(client);
  std::string at_149;
  std::string at_150;
  server_.SetHandler("/brisal/client/f149", [&](const HttpTestRequest&) {
    at_149 = Installed(".brisal_state.json");
    return HttpTestResponse::WithStatus(200, published_["f149"]);
  });
  server_.SetHandler("/brisal/client/f150", [&](const HttpTestRequest&) {
    // The job thread makes the save while the worker goes on: give it time to land.
    for (int i = 0; i < 500 && Installed(".brisal_state.json") == "<missing>"; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    at_150 = Installed(".brisal_state.json");
    return HttpTestResponse::WithStatus(200, published_["f150"]);
  });
  Check();
  Update();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate);
  EXPECT_EQ(at_149, "<missing>");
  ASSERT_NE(at_150, "<missing>");
  EXPECT_EQ(nlohmann::json::parse(at_150)["files"].size(), 150u);
}

TEST_F(UpdateJobTest, DeletionsRemoveEmptiedFoldersButNeverTheInstallFolder) {
  Publish({{"data/old/sub/x.bin", "x"}, {"data/keep.bin", "k"}, {"top.bin", "t"}});
  Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate);

  Publish({{"data/keep.bin", "k"}}, "r2", "\"m2\"");
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpdateAvailable);
  Update();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate);
  EXPECT_FALSE(FileExists(InstallPath("data/old/sub/x.bin")));
  EXPECT_FALSE(IsDirectory(InstallPath("data/old")));
  EXPECT_TRUE(IsDirectory(InstallPath("data")));
  EXPECT_FALSE(FileExists(InstallPath("top.bin")));
  EXPECT_TRUE(IsDirectory(install_.path()));
  EXPECT_FALSE(state_.cache.Lookup("top.bin"));
  EXPECT_THAT(LogLines(), Contains("actualizacion completada (0 archivos)"));
}

TEST_F(UpdateJobTest, UncreatableInstallFolderFailsWithItsSentence) {
  Publish({{"a", "x"}});
  WriteFile(install_.Sub("file"), "not a folder");
  settings_.install_dir = install_.Sub("file/inside");
  HandOverSettings(state_, settings_);
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kNotInstalled);
  Update();
  EXPECT_EQ(Phase(), UpdatePhase::kFailed);
  EXPECT_EQ(Status(), "No se pudo crear la carpeta de instalación. Elige otra carpeta.");
}

// No volume has a pebibyte free; the check runs before anything is fetched or deleted.
// A partial file's bytes are not needed twice: a sparse one larger than the free
// space lets an entry that much larger than the free space start.
TEST_F(UpdateJobTest, NoSpaceNoStart) {
  Publish({{"viejo.bin", "v"}});
  Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);
  std::uint64_t free_bytes = 0;
  ASSERT_TRUE(InstallTree(install_.path()).FreeSpace(free_bytes));
  const std::uint64_t margin = 128ull << 20;
  struct Case {
    std::uint64_t size;
    std::uint64_t partial;  // a sparse partial file of this size, none when 0
    bool fits;
  };
  for (const Case& c : {Case{1ull << 50, 0, false}, Case{free_bytes + margin, 2 * margin, true}}) {
    SCOPED_TRACE(c.size);
    nlohmann::json doc = {
        {"revision", "r2"},
        {"files", {{{"path", "huge.pak"}, {"size", c.size}, {"sha256", std::string(64, 'a')}}}}};
    server_.AddFile("/brisal/manifest.json", doc.dump(),
                    StringPrintf("\"%llu\"", static_cast<unsigned long long>(c.size)));
    int requests = 0;
    server_.SetHandler("/brisal/client/huge.pak", [&](const HttpTestRequest&) {
      ++requests;
      state_.jobs.cancel.store(true);  // enough to know the downloads started
      return HttpTestResponse::WithStatus(404);
    });
    if (c.partial != 0) {
      WriteFile(InstallPath("huge.pak.bpart"), "");
      std::filesystem::resize_file(InstallPath("huge.pak.bpart"), c.partial);
    }
    Check();
    ASSERT_EQ(state_.plan.to_delete.size(), 1u);
    Update();
    EXPECT_EQ(requests, c.fits ? 1 : 0);
    if (!c.fits) {
      EXPECT_EQ(Phase(), UpdatePhase::kFailed);
      EXPECT_THAT(Status(), StartsWith("Espacio insuficiente: se necesitan " + FormatSize(c.size) +
                                       " y hay "));
      EXPECT_THAT(Status(), EndsWith(" libres"));
      EXPECT_EQ(Installed("viejo.bin"), "v");  // nothing deleted
    }
  }
}

// After an update, and after a check that finds the folder current with nothing to
// download (the partial file of an entry the new manifest dropped).
TEST_F(UpdateJobTest, PartialFilesOfEntriesNoLongerListedGoWheneverTheFolderIsCurrent) {
  Publish({{"a.pak", "a"}, {"b.pak", "b"}});
  Install("a.pak", "a");
  Install("a.pak.bpart", "a");     // its entry is still listed
  Install("gone.pak.bpart", "g");  // left by an earlier revision
  Install("data/viejo.ogg.bpart", "v");
  Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  EXPECT_FALSE(FileExists(InstallPath("gone.pak.bpart")));
  EXPECT_FALSE(FileExists(InstallPath("data/viejo.ogg.bpart")));
  EXPECT_EQ(Installed("a.pak.bpart"), "a");

  Install("gone.pak.bpart", "g");
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  EXPECT_FALSE(FileExists(InstallPath("gone.pak.bpart")));
  EXPECT_EQ(Installed("a.pak.bpart"), "a");
}

// A recorded file that becomes a folder (or the reverse) used to fail every run
// forever; only what the launcher recorded may be cleared out of the way.
TEST_F(UpdateJobTest, AFileThatBecomesAFolderAndBackConverges) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> before, after;
    const char* players_file;  // planted inside before the update, never removed
  };
  const std::vector<Case> cases = {
      {"file to folder", {{"data", "f"}, {"k", "k"}}, {{"data/x.bin", "x"}, {"k", "k"}}, nullptr},
      {"folder to file",
       {{"data/x.bin", "x"}, {"data/y/z.bin", "z"}, {"k", "k"}},
       {{"data", "f"}, {"k", "k"}},
       nullptr},
      {"folder holding the player's file",
       {{"data/x.bin", "x"}, {"k", "k"}},
       {{"data", "f"}, {"k", "k"}},
       "data/mine.cfg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir folder;
    settings_.install_dir = folder.path();
    HandOverSettings(state_, settings_);
    Publish(c.before, "r1", std::string("\"1") + c.name + "\"");
    Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);
    ASSERT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
    if (c.players_file != nullptr) WriteFile(folder.Sub(c.players_file), "mine");
    Publish(c.after, "r2", std::string("\"2") + c.name + "\"");
    Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);
    if (c.players_file != nullptr) {
      EXPECT_EQ(Phase(), UpdatePhase::kFailed);
      EXPECT_EQ(Status(),
                "No se instaló data: en su lugar hay una carpeta con archivos que el launcher no "
                "instaló");
      EXPECT_EQ(ReadFile(folder.Sub(c.players_file)), "mine");
      continue;
    }
    EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
    for (const auto& [path, content] : c.after)
      EXPECT_EQ(ReadFile(folder.Sub(path)), content) << path;
  }
}

// ACTUALIZAR queued behind a quiet re-check of folder A, then "Cambiar" picks folder B
// before the job's turn: the job must not carry A's plan out in B.
TEST_F(UpdateJobTest, APlanMadeForAnotherFolderIsNeverCarriedOut) {
  Publish({{"keep", "k"}, {"old", "o"}});
  Check(EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded);
  Publish({{"keep", "k"}}, "r2", "\"m2\"");
  Check();
  ASSERT_EQ(Phase(), UpdatePhase::kUpdateAvailable);
  ASSERT_THAT(state_.plan.to_delete, ElementsAre("old"));

  TempDir other;
  WriteFile(other.Sub("old"), "the player's own file");
  settings_.install_dir = other.path();
  HandOverSettings(state_, settings_);
  Update();

  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  EXPECT_EQ(ReadFile(other.Sub("old")), "the player's own file");
  EXPECT_EQ(ReadFile(other.Sub("keep")), "k");
  EXPECT_EQ(Installed("old"), "o");  // folder A was never touched either
}

// With a mirror, a file the first server fails is fetched from the next one at once,
// without a pause or a spent attempt, and a server that keeps failing is set aside:
// after three failures in a row no further file is asked of it.
TEST_F(UpdateJobTest, AFileTheServerFailsComesFromTheMirrorAndTheServerIsSetAside) {
  HttpTestServer mirror;
  settings_.mirrors = {mirror.Url("/brisal/")};
  SetConnections(1);
  const struct {
    const char* name;
    HttpTestResponse (*answer)(const std::string& content);
  } cases[] = {
      {"500", [](const std::string&) { return HttpTestResponse::WithStatus(500); }},
      {"404", [](const std::string&) { return HttpTestResponse::WithStatus(404); }},
      {"connection dropped",
       [](const std::string&) {
         HttpTestResponse r;
         r.raw = "";
         return r;
       }},
      {"corrupt bytes",
       [](const std::string& content) {
         std::string wrong = content;
         wrong[wrong.size() / 2] ^= 1;
         return HttpTestResponse::WithStatus(200, wrong);
       }},
  };
  unsigned seed = 100;
  for (const auto& c : cases) {
    std::map<std::string, std::string> files;
    for (const char* path : {"a.pak", "b.pak", "c.pak", "d.pak", "e.pak"})
      files[path] = MakeContent(5000, ++seed);
    Publish(files, c.name, std::string("\"") + c.name + "\"");
    for (const auto& [path, content] : files) {
      mirror.AddFile("/brisal/client/" + path, content);
      server_.SetHandler("/brisal/client/" + path,
                         [&c, content](const HttpTestRequest&) { return c.answer(content); });
    }
    const int server_before = FileRequestOrder().size();
    const std::size_t mirror_before = mirror.Requests().size();
    Check();
    Update();
    EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << c.name << ": " << Status();
    ExpectInstalledExactly();
    EXPECT_EQ(FileRequestOrder().size() - server_before, DownloadSources::kSetAsideAfter)
        << c.name;
    EXPECT_EQ(mirror.Requests().size() - mirror_before, files.size()) << c.name;
  }
}

// A busy server's Retry-After is waited out before the file is asked again, however
// short the usual pause.
TEST_F(UpdateJobTest, ABusyServersRetryAfterIsWaitedOut) {
  state_.jobs.retry_pause = std::chrono::milliseconds(1);
  const std::string content = MakeContent(1000, 7);
  Publish({{"a.pak", content}});
  std::atomic<int> calls{0};
  server_.SetHandler("/brisal/client/a.pak", [&](const HttpTestRequest&) {
    if (calls++ > 0) return HttpTestResponse::WithStatus(200, content);
    HttpTestResponse busy = HttpTestResponse::WithStatus(503);
    busy.headers.emplace_back("Retry-After", "2");
    return busy;
  });
  Check();
  const auto start = std::chrono::steady_clock::now();
  Update();
  EXPECT_EQ(Phase(), UpdatePhase::kUpToDate) << Status();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
}  // namespace brisal::testing

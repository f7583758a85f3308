// A real install folder, a real data folder and a fault-injecting server publishing a
// client: what the check, download and update-job tests share.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "client_files/manifest.h"
#include "core/paths.h"
#include "shared_state/engine_request.h"
#include "shared_state/launcher_state.h"
#include "tests/support/http_test_server.h"
#include "tests/support/temp_dir.h"

namespace brisal::testing {

std::string Sha256Of(const std::string& content);

// Deterministic content of any size (no two files alike).
std::string MakeContent(std::size_t size, unsigned seed);

class EngineTest : public ::testing::Test {
 protected:
  EngineTest();

  // Publishes a client: "/brisal/manifest.json" and every file under
  // "/brisal/client/". Returns the manifest as the launcher will parse it.
  Manifest Publish(const std::map<std::string, std::string>& files,
                   const std::string& revision = "r1", const std::string& etag = "\"m1\"");

  // Runs a check as the job runner would (settings taken up, exceptions caught).
  void Check(EngineAction action = EngineAction::kCheck, AfterCheck then = AfterCheck::kStop);
  void Update();

  // Points the launcher at another server address (e.g. one nobody listens on).
  void UseBaseUrl(const std::string& base_url);

  std::string InstallPath(const std::string& relative) const { return install_.Sub(relative); }
  void Install(const std::string& relative, const std::string& content) {
    WriteFile(InstallPath(relative), content);
  }
  std::string Installed(const std::string& relative) const {
    return ReadFile(InstallPath(relative));
  }
  UpdatePhase Phase() { return CurrentPhase(state_); }
  std::string Status() { return StatusText(state_); }
  MessageCode StatusCode() {
    MutexLock guard(state_.board.lock);
    return state_.board.status.code;
  }
  std::vector<std::string> LogLines() const;
  // Requests the server saw for a path below "/brisal/".
  int RequestsFor(const std::string& path) const;

  TempDir data_;
  TempDir install_;
  HttpTestServer server_;
  LauncherState state_;
  JobSettings settings_;
  std::map<std::string, std::string> published_;
};

}  // namespace brisal::testing

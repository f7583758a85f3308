// publish-launcher and self-update: the operator's side of the launcher's own update,
// and the player's from a terminal.
#include <atomic>
#include <cstdio>
#include <map>
#include <thread>

#include "cli/commands.h"
#include "cli/console.h"
#include "client_files/sha256.h"
#include "config/launcher_config.h"
#include "core/files.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"
#include "shared_state/launcher_state.h"
#include "update/launcher_release.h"
#include "update/self_update.h"

namespace brisal::cli {

namespace {

// brisal-launcher beside this program, with this program's extension (".exe" or none).
std::string SiblingLauncher() {
  const std::string self = platform::ExecutablePath();
  const std::string suffix =
      self.size() >= 4 && self.compare(self.size() - 4, 4, ".exe") == 0 ? ".exe" : "";
  return JoinPath(ExeFolder(), "brisal-launcher" + suffix);
}

void Say(const Message& message) {
  std::printf("%s\n", Sentence(message).c_str());
  std::fflush(stdout);
}

}  // namespace

int RunPublishLauncherCommand(const PublishLauncherOptions& options) {
  if (!IsVersionText(options.version)) {
    Complain(Wrap(MessageCode::kCliBadValue, "--version",
                  Message(MessageCode::kVerbatim, options.version)));
    return kExitUsage;
  }
  std::map<std::string, LauncherFile> files;
  for (const PublishLauncherOptions::Platform& platform : options.platforms) {
    std::string folder;
    std::string name;
    if (!SplitLauncherUrl("http://x/", platform.url, folder, name)) {
      Complain(Wrap(MessageCode::kCliBadValue, "--platform",
                    Message(MessageCode::kVerbatim, platform.url)));
      return kExitUsage;
    }
    LauncherFile file;
    file.url = platform.url;
    FileInfo info;
    if (!GetFileInfo(platform.file, info) || !info.is_regular ||
        !HashFile(platform.file, file.sha256, nullptr)) {
      Complain(Message(MessageCode::kCliCannotRead, platform.file));
      return kExitFailed;
    }
    file.size = info.size;
    files[platform.name] = file;
  }
  const std::string text = WriteLauncherRelease(options.version, files);
  std::string sig_text;
  if (!options.sign_key.empty() && !SignText(options.sign_key, text, sig_text)) return kExitFailed;
  if (!WriteSignedDocument(options.output, text, sig_text)) return kExitFailed;
  Complain(Message(MessageCode::kCliLauncherPublished, options.version));
  return 0;
}

int RunSelfUpdateCommand(const SelfUpdateOptions& options) {
  // Lives for the whole process, as in the engine's commands.
  static LauncherState state;
  static std::atomic<bool> interrupted{false};
  const LauncherTarget target = ThisBuildsLauncher(SiblingLauncher());
  if (ManagedByPackages(target.path)) {
    Say(Message(MessageCode::kLauncherByPackage));
    return kExitUpToDate;
  }
  // A swap stopped between Windows' two renames leaves the program aside: put it back.
  FinishLauncherSwap(target.path);
  if (!FileExists(target.path)) {
    Complain(Message(MessageCode::kLauncherMissing, target.path));
    return kExitFailed;
  }
  InterceptInterrupt(state.jobs.cancel, interrupted);
  LauncherConfig config;
  Message config_message;
  const std::string config_path =
      options.config_path.empty() ? JoinPath(ExeFolder(), "config.json") : options.config_path;
  if (!LoadConfig(config_path, config, config_message)) Complain(config_message);
  HandOverSettings(state, MakeJobSettings(config, ""));

  int status = kExitFailed;
  std::thread job([&] {
    RunJobWrapped(state, JobKind::kExclusive, [&] {
      state.plan.job_lock.AssertHeld();
      if (interrupted.load()) state.jobs.cancel.store(true);
      const LauncherCheckOutcome found = CheckLauncherRelease(state, target);
      if (found.result == LauncherCheck::kCancelled) return;
      if (found.result == LauncherCheck::kFailed) {
        Complain(found.message);
        return;
      }
      // brisal-cli and the launcher ship together, but the launcher may have moved on
      // alone: one that already holds the release's bytes is current.
      std::string held;
      if (found.result == LauncherCheck::kUpToDate ||
          (HashFile(target.path, held, &state.jobs.cancel) && held == found.release.file.sha256)) {
        Say(Message(MessageCode::kLauncherUpToDate, found.release.version));
        status = kExitUpToDate;
        return;
      }
      Say(found.message);
      if (options.check_only) {
        status = kExitWorkPending;
        return;
      }
      Message error;
      if (!StageLauncher(state, target, found, error)) {
        if (!error.empty()) Complain(error);
        return;
      }
      std::string version;
      switch (ApplyStagedLauncher(target, version, error)) {
        case ApplyResult::kSwapped:
          Say(Message(MessageCode::kLauncherUpdated, version));
          status = kExitUpToDate;
          break;
        case ApplyResult::kFailed:
          Complain(error);
          break;
        case ApplyResult::kNothing:
          // The staged file changed between its download and the swap.
          Complain(Message(MessageCode::kLauncherSwapFailed, target.path));
          break;
      }
    });
  });
  job.join();
  if (interrupted.load()) return kExitInterrupted;
  return status;
}

}  // namespace brisal::cli

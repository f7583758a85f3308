#include "app/launcher_start.h"

#include "core/log.h"
#include "core/messages.h"
#include "core/paths.h"
#include "launch/process.h"
#include "update/self_update.h"

namespace brisal {

StartDecision PutNewLauncherInPlace(const std::string& self) {
  // Unknown path, or apt's to update: nothing of ours to replace.
  if (self.empty() || ManagedByPackages(self)) return StartDecision::kRunWindow;
  FinishLauncherSwap(self);
  std::string version;
  Message error;
  switch (ApplyStagedLauncher(ThisBuildsLauncher(self), version, error)) {
    case ApplyResult::kSwapped:
      Log("launcher: %s", Sentence(Message(MessageCode::kLauncherUpdated, version)).c_str());
      return StartDecision::kRestart;
    case ApplyResult::kFailed:
      Log("launcher: %s", Sentence(error).c_str());
      break;
    case ApplyResult::kNothing:
      break;
  }
  return StartDecision::kRunWindow;
}

bool StartNewLauncher(const std::string& self) {
  std::uint32_t system_error = 0;
  if (platform::StartProcess(self, "", ParentPath(self), system_error)) return true;
  Log("launcher: %s", Sentence(Message(MessageCode::kClientStartFailed, {}, system_error)).c_str());
  return false;
}

std::string VersionLine() {
  return "brisal-launcher " + ThisBuildsVersion() + "\n";
}

}  // namespace brisal

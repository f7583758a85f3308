#include "launch/install_dir.h"

#include "core/paths.h"
#include "launch/process.h"

namespace brisal {

std::string ResolveInstallDir(const LauncherConfig& config) {
  if (config.install_dir.empty()) return JoinPath(DataFolder(), "client");
  if (platform::IsAbsoluteInstallDir(config.install_dir)) return config.install_dir;
  return JoinPath(ExeFolder(), config.install_dir);
}

}  // namespace brisal

#include "launch/launch_client.h"

#include "core/files.h"
#include "core/install_tree.h"
#include "core/paths.h"
#include "launch/process.h"

namespace brisal {

bool LaunchClient(const LauncherConfig& config, int renderer_index,
                  const std::string& install_folder, Message& error) {
  error = Message();
  if (renderer_index < 0 || static_cast<std::size_t>(renderer_index) >= config.renderers.size()) {
    return false;
  }
  const Renderer& renderer = config.renderers[static_cast<std::size_t>(renderer_index)];
  const std::string exe_path = JoinPath(install_folder, ManifestPathToNative(renderer.exe));

  if (!FileExists(exe_path)) {
    // The player knows the name from config.json and the server, so it is shown as
    // written there, not as the platform path.
    error = Message(MessageCode::kClientMissing, renderer.exe);
    return false;
  }

  // The engine writes files without an execute bit; it is given here, on the file
  // itself. A link in the install folder could make any file of the player's runnable
  // (and run it), so the client is never started through one.
  if (InstallTree(install_folder).MakeExecutable(renderer.exe) == TreeResult::kLink) {
    error = Message(MessageCode::kClientThroughLink, renderer.exe);
    return false;
  }

  std::uint32_t system_error = 0;
  if (!platform::StartProcess(exe_path, config.client_args, install_folder, system_error)) {
    error = Message(MessageCode::kClientStartFailed, {}, system_error);
    return false;
  }
  return true;
}

}  // namespace brisal

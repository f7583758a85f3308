#include "launch/launch_client.h"

#include <cmath>

#include "core/files.h"
#include "core/paths.h"
#include "launch/process.h"

namespace brisal {

PixelRect ScaledStatusLineArea(float scale) {
  auto scaled = [scale](int unscaled) {
    return static_cast<int>(std::lroundf(static_cast<float>(unscaled) * scale));
  };
  return PixelRect{scaled(kStatusLineArea.left), scaled(kStatusLineArea.top),
                   scaled(kStatusLineArea.right), scaled(kStatusLineArea.bottom)};
}

void LaunchClient(const LauncherConfig& config, int renderer_index,
                  const std::string& install_folder, float scale, WindowHost& host,
                  std::string& notice) {
  if (renderer_index < 0 || static_cast<std::size_t>(renderer_index) >= config.renderers.size()) {
    return;
  }
  const Renderer& renderer = config.renderers[static_cast<std::size_t>(renderer_index)];
  const std::string exe_path = JoinPath(install_folder, ManifestPathToNative(renderer.exe));

  if (!FileExists(exe_path)) {
    // The player knows the name from config.json and the server, so it is shown as
    // written there, not as the platform path.
    notice = "No se encontró " + renderer.exe +
             ". Prueba con el otro motor gráfico o pulsa «Verificar archivos».";
    host.Invalidate(ScaledStatusLineArea(scale));
    return;
  }

  std::uint32_t system_error = 0;
  if (!platform::StartProcess(exe_path, config.client_args, install_folder, system_error)) {
    notice = "No se pudo iniciar el cliente (error " + std::to_string(system_error) + ").";
    host.Invalidate(ScaledStatusLineArea(scale));
    return;
  }

  if (config.close_on_play) {
    host.Close();
  } else {
    host.Minimize();
  }
}

}  // namespace brisal

#include "shared_state/status_text.h"

#include "core/text.h"
#include "shared_state/launcher_state.h"

namespace brisal {

StatusLine ComposeStatusLine(LauncherState& state, const std::string& notice) {
  // Everything here may carry text from a server or a file (paths, error sentences,
  // the configuration's complaint), and every repaint lays it out.
  if (!notice.empty()) return {SafeText(notice), true};
  switch (CurrentPhase(state)) {
    case UpdatePhase::kStarting:
    case UpdatePhase::kChecking:
      return {"Buscando actualizaciones…", false};
    case UpdatePhase::kVerifying:
      return {StringPrintf("Verificando archivos… %u / %u", state.progress.files_done.load(),
                           state.progress.files_total.load()),
              false};
    case UpdatePhase::kNotInstalled:
      return {StringPrintf("Cliente no instalado · %u archivos (%s)",
                           state.progress.update_files.load(),
                           FormatSize(state.progress.update_bytes.load()).c_str()),
              false};
    case UpdatePhase::kUpdateAvailable:
      if (state.progress.update_files.load() == 0) {
        return {"Actualización disponible · limpieza de archivos antiguos", false};
      }
      return {StringPrintf("Actualización disponible · %u archivos (%s)",
                           state.progress.update_files.load(),
                           FormatSize(state.progress.update_bytes.load()).c_str()),
              false};
    case UpdatePhase::kDownloading: {
      ProgressSnapshot snapshot = TakeSnapshot(state);
      if (snapshot.file_path.empty()) return {"Descargando…", false};
      return {"Descargando " + SafeText(snapshot.file_path), false};
    }
    case UpdatePhase::kUpToDate:
      return {"Cliente actualizado. ¡Listo para jugar!", false};
    case UpdatePhase::kOffline:
    case UpdatePhase::kFailed:
      return {SafeText(StatusText(state)), true};
  }
  return {"", false};
}

}  // namespace brisal

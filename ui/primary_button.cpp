#include "ui/primary_button.h"

namespace brisal {

PrimaryButtonSpec PrimarySpec(UpdatePhase phase) {
  switch (phase) {
    case UpdatePhase::kStarting:
    case UpdatePhase::kChecking:
      return {"COMPROBANDO", false, ButtonStyle::kPrimary};
    case UpdatePhase::kVerifying:
    case UpdatePhase::kDownloading:
      return {"CANCELAR", true, ButtonStyle::kCancel};
    case UpdatePhase::kNotInstalled:
      return {"INSTALAR", true, ButtonStyle::kPrimary};
    case UpdatePhase::kUpdateAvailable:
      return {"ACTUALIZAR", true, ButtonStyle::kPrimary};
    case UpdatePhase::kUpToDate:
    case UpdatePhase::kOffline:
      return {"JUGAR", true, ButtonStyle::kPrimary};
    case UpdatePhase::kFailed:
      return {"REINTENTAR", true, ButtonStyle::kPrimary};
  }
  return {"", false, ButtonStyle::kPrimary};
}

}  // namespace brisal

#include "shared_state/status_text.h"

#include <gtest/gtest.h>

#include "shared_state/launcher_state.h"

namespace brisal {
namespace {

TEST(StatusLine, EveryPhaseSaysWhatTheLauncherIsDoing) {
  LauncherState state;
  EXPECT_EQ(ComposeStatusLine(state, "").text, "Buscando actualizaciones…");

  SetPhase(state, UpdatePhase::kVerifying);
  state.progress.files_done.store(12);
  state.progress.files_total.store(340);
  EXPECT_EQ(ComposeStatusLine(state, "").text, "Verificando archivos… 12 / 340");

  state.progress.update_files.store(25);
  state.progress.update_bytes.store(1572864);
  SetPhase(state, UpdatePhase::kNotInstalled);
  EXPECT_EQ(ComposeStatusLine(state, "").text, "Cliente no instalado · 25 archivos (1.5 MB)");
  SetPhase(state, UpdatePhase::kUpdateAvailable);
  EXPECT_EQ(ComposeStatusLine(state, "").text, "Actualización disponible · 25 archivos (1.5 MB)");
  state.progress.update_files.store(0);
  EXPECT_EQ(ComposeStatusLine(state, "").text,
            "Actualización disponible · limpieza de archivos antiguos");

  SetPhase(state, UpdatePhase::kDownloading);
  EXPECT_EQ(ComposeStatusLine(state, "").text, "Descargando…");
  state.progress.slots[3].file_size.store(10);
  {
    MutexLock guard(state.progress.slots[3].lock);
    state.progress.slots[3].file_path = "data/mapa.pak";
  }
  EXPECT_EQ(ComposeStatusLine(state, "").text, "Descargando data/mapa.pak");

  SetPhase(state, UpdatePhase::kUpToDate);
  StatusLine ready = ComposeStatusLine(state, "");
  EXPECT_EQ(ready.text, "Cliente actualizado. ¡Listo para jugar!");
  EXPECT_FALSE(ready.highlighted);

  SetPhase(state, UpdatePhase::kOffline, Message(MessageCode::kVerbatim, "Modo sin conexión · x"));
  StatusLine offline = ComposeStatusLine(state, "");
  EXPECT_EQ(offline.text, "Modo sin conexión · x");
  EXPECT_TRUE(offline.highlighted);

  StatusLine notice = ComposeStatusLine(state, "No se encontró a.exe");
  EXPECT_EQ(notice.text, "No se encontró a.exe");
  EXPECT_TRUE(notice.highlighted);
}

// Paths, error sentences and notices come from servers and files: each is made safe
// wherever the line is composed.
TEST(StatusLine, OutsideTextIsShownSafely) {
  const std::string hostile =
      "a\x1B[2J\xE2\x80\xAE"
      "b";
  const std::string shown =
      "a\xEF\xBF\xBD[2J\xEF\xBF\xBD"
      "b";
  LauncherState state;
  SetPhase(state, UpdatePhase::kDownloading);
  state.progress.slots[0].file_size.store(10);
  {
    MutexLock guard(state.progress.slots[0].lock);
    state.progress.slots[0].file_path = hostile;
  }
  EXPECT_EQ(ComposeStatusLine(state, "").text, "Descargando " + shown);
  EXPECT_EQ(ComposeStatusLine(state, hostile).text, shown);
  SetPhase(state, UpdatePhase::kFailed, Message(MessageCode::kVerbatim, hostile));
  EXPECT_EQ(ComposeStatusLine(state, "").text, shown);
}

}  // namespace
}  // namespace brisal

#include "shared_state/status_text.h"

#include <gtest/gtest.h>

#include "shared_state/launcher_state.h"
#include "tests/support/message_printer.h"

namespace brisal {
namespace {

TEST(StatusLine, EveryPhaseSaysWhatTheLauncherIsDoing) {
  LauncherState state;
  EXPECT_EQ(PhaseMessage(state), Message(MessageCode::kStatusChecking));

  SetPhase(state, UpdatePhase::kVerifying);
  state.progress.files_done.store(12);
  state.progress.files_total.store(340);
  EXPECT_EQ(PhaseMessage(state), Message(MessageCode::kStatusVerifying, {}, 12, 340));

  state.progress.update_files.store(25);
  state.progress.update_bytes.store(1572864);
  SetPhase(state, UpdatePhase::kNotInstalled);
  EXPECT_EQ(PhaseMessage(state), Message(MessageCode::kStatusNotInstalled, {}, 25, 1572864));
  SetPhase(state, UpdatePhase::kUpdateAvailable);
  EXPECT_EQ(PhaseMessage(state), Message(MessageCode::kStatusUpdateAvailable, {}, 25, 1572864));
  state.progress.update_files.store(0);
  EXPECT_EQ(PhaseMessage(state), Message(MessageCode::kStatusCleanupOnly));

  SetPhase(state, UpdatePhase::kDownloading);
  EXPECT_EQ(PhaseMessage(state), Message(MessageCode::kStatusDownloading));
  state.progress.slots[3].file_size.store(10);
  {
    MutexLock guard(state.progress.slots[3].lock);
    state.progress.slots[3].file_path = "data/mapa.pak";
  }
  EXPECT_EQ(PhaseMessage(state), Message(MessageCode::kStatusDownloadingFile, "data/mapa.pak"));

  SetPhase(state, UpdatePhase::kUpToDate);
  StatusLine ready = ComposeStatusLine(state, "");
  EXPECT_EQ(ready.text, Sentence(Message(MessageCode::kStatusUpToDate)));
  EXPECT_FALSE(ready.highlighted);

  // The engine's own words for these two phases.
  SetPhase(state, UpdatePhase::kOffline, Message(MessageCode::kVerbatim, "sin red"));
  EXPECT_TRUE(PhaseMessage(state).empty());
  StatusLine offline = ComposeStatusLine(state, "");
  EXPECT_EQ(offline.text, "sin red");
  EXPECT_TRUE(offline.highlighted);

  StatusLine notice = ComposeStatusLine(state, "aviso");
  EXPECT_EQ(notice.text, "aviso");
  EXPECT_TRUE(notice.highlighted);
}

// Error sentences and notices come from servers and files: each is made safe wherever
// the line is composed (a path in a phase's own sentence is made safe by its wording).
TEST(StatusLine, OutsideTextIsShownSafely) {
  const std::string hostile =
      "a\x1B[2J\xE2\x80\xAE"
      "b";
  const std::string shown =
      "a\xEF\xBF\xBD[2J\xEF\xBF\xBD"
      "b";
  LauncherState state;
  EXPECT_EQ(ComposeStatusLine(state, hostile).text, shown);
  SetPhase(state, UpdatePhase::kFailed, Message(MessageCode::kVerbatim, hostile));
  EXPECT_EQ(ComposeStatusLine(state, "").text, shown);
}

}  // namespace
}  // namespace brisal

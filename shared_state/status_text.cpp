#include "shared_state/status_text.h"

#include <utility>

#include "core/text.h"
#include "shared_state/launcher_state.h"

namespace brisal {

Message PhaseMessage(LauncherState& state) {
  switch (CurrentPhase(state)) {
    case UpdatePhase::kStarting:
    case UpdatePhase::kChecking:
      return Message(MessageCode::kStatusChecking);
    case UpdatePhase::kVerifying:
      return Message(MessageCode::kStatusVerifying, {}, state.progress.files_done.load(),
                     state.progress.files_total.load());
    case UpdatePhase::kNotInstalled:
      return Message(MessageCode::kStatusNotInstalled, {}, state.progress.update_files.load(),
                     state.progress.update_bytes.load());
    case UpdatePhase::kUpdateAvailable: {
      const std::uint32_t files = state.progress.update_files.load();
      if (files == 0) return Message(MessageCode::kStatusCleanupOnly);
      return Message(MessageCode::kStatusUpdateAvailable, {}, files, state.progress.update_bytes.load());
    }
    case UpdatePhase::kDownloading: {
      ProgressSnapshot snapshot = TakeSnapshot(state);
      if (state.progress.bytes_spared.load() > 0) {
        return Message(MessageCode::kStatusDownloadingSpared, std::move(snapshot.file_path),
                       snapshot.bytes_total);
      }
      if (snapshot.file_path.empty()) return Message(MessageCode::kStatusDownloading);
      return Message(MessageCode::kStatusDownloadingFile, std::move(snapshot.file_path));
    }
    case UpdatePhase::kUpToDate:
      return Message(MessageCode::kStatusUpToDate);
    case UpdatePhase::kOffline:
    case UpdatePhase::kFailed:
      break;
  }
  return Message();
}

StatusLine ComposeStatusLine(LauncherState& state, const std::string& notice) {
  // Everything here may carry text from a server or a file (paths, error sentences,
  // the configuration's complaint), and every repaint lays it out.
  if (!notice.empty()) return {SafeText(notice), true};
  const Message phase_message = PhaseMessage(state);
  if (phase_message.empty()) return {SafeText(StatusText(state)), true};
  return {Sentence(phase_message), false};
}

}  // namespace brisal

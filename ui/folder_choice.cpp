// Choosing the install folder: the picker, the folder rules, and the hand-over of an
// accepted folder to the settings file and the jobs.
#include "ui/folder_choice.h"

#include "core/paths.h"
#include "ui/launcher_window.h"

namespace brisal {
namespace {

std::string WithoutTrailingSeparators(std::string path) {
  while (!path.empty() && IsPathSeparator(path.back()))
    path.pop_back();
  return path;
}

// Characters, not bytes: "C:\é" is a folder even though "é" takes two bytes.
std::size_t CharacterCount(const std::string& utf8) {
  std::size_t count = 0;
  for (const char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

}  // namespace

bool CheckInstallFolder(const std::string& chosen, const std::string& exe_folder,
                        std::string& folder, std::string& refusal) {
  const std::string trimmed = WithoutTrailingSeparators(chosen);
  if (CharacterCount(trimmed) < ShortestNonRootFolder()) {
    refusal = kDriveRootRefusal;
    return false;
  }
  // The client's files would be mixed with the launcher's own, config.json included.
  if (SamePathText(trimmed, WithoutTrailingSeparators(exe_folder))) {
    refusal = kLauncherFolderRefusal;
    return false;
  }
  folder = trimmed;
  return true;
}

void LauncherWindow::ChooseInstallFolder() {
  const UpdatePhase phase = CurrentPhase(*state);
  // The jobs read the folder while they run; a change waits for an idle phase.
  if (IsBusyPhase(phase)) return;

  // The host keeps the window painting and taking job notifications while the picker
  // is open, and ignores input to it, so nothing else in the window runs meanwhile.
  std::string chosen;
  if (!host_->PickFolder(kFolderPickerTitle, "", chosen) || chosen.empty()) return;

  std::string folder;
  std::string refusal;
  if (CheckInstallFolder(chosen, services_.exe_folder(), folder, refusal)) {
    install_folder = folder;
    settings.install_dir = folder;
    services_.save_settings(settings);
    notice.clear();
    ApplyJobSettings(true);
  } else {
    notice = refusal;
  }
  InvalidateArea(kStatusLineArea);
}

}  // namespace brisal

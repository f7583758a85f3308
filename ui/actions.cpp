// The actions behind the elements: title-bar glyphs, links, renderer selector, primary
// button, folder row and news rows.
#include "ui/actions.h"

#include <optional>

#include "core/web_link.h"
#include "ui/launcher_window.h"

namespace brisal {

bool IsWebAddress(const std::string& address) {
  return ParseWebLink(address) == address;
}

std::string DeriveLinkAddress(const std::string& base_url, const std::string& default_path) {
  if (default_path.empty()) return "";
  std::string origin = base_url;
  const std::size_t scheme_end = base_url.find("://");
  if (base_url.size() >= 3 && scheme_end != std::string::npos) {
    const std::size_t path_start = base_url.find('/', scheme_end + 3);
    if (path_start != std::string::npos) origin = base_url.substr(0, path_start);
  }
  if (origin.empty()) return "";
  return origin + "/" + default_path;
}

std::uint32_t NextSpeedLimitKib(std::uint32_t kib) {
  constexpr std::uint32_t kChoices[] = {20480, 10240, 5120, 2048, 1024};
  if (kib == 0) return kChoices[0];
  for (std::uint32_t choice : kChoices) {
    if (choice < kib) return choice;
  }
  return 0;
}

std::string LinkNotConfiguredNotice(const std::string& display_name) {
  return "El link de " + display_name +
         " no está configurado (BRISAL_DISCORD en config.h o \"links\" en config.json).";
}

void LauncherWindow::OnElementClick(int index) {
  switch (index) {
    case kMinimizeButton:
      host_->Minimize();
      return;
    case kCloseButton:
      host_->Close();
      return;
    case kWebsiteLink:
      OpenConfiguredLink(config.website, "index.php", "Website");
      return;
    case kRegisterLink:
      OpenConfiguredLink(config.register_url, "register.php", "Registro");
      return;
    case kDiscordLink:
      OpenConfiguredLink(config.discord, "", "Discord");
      return;
    case kRendererSelector: {
      const auto count = static_cast<std::int32_t>(config.renderers.size());
      if (count == 0) return;
      settings.renderer = (settings.renderer + 1) % count;
      services_.save_settings(settings);
      host_->Invalidate(elements[kRendererSelector].rect);
      return;
    }
    case kPrimaryButton:
      PrimaryAction();
      return;
    case kSpeedLimitControl:
      ChooseNextSpeedLimit();
      return;
    case kChangeFolderButton:
      ChooseInstallFolder();
      return;
    case kVerifyButton:
      services_.start_check({EngineAction::kVerify, AfterCheck::kStop});
      return;
    default:
      break;
  }
  if (index >= kFirstNewsRow && index < kFirstNewsRow + kNewsRowCount) {
    const auto k = static_cast<std::size_t>(index - kFirstNewsRow);
    // News addresses come from the server; anything but a web address stays unopened,
    // without a word, as the row is all the player clicked.
    if (k < news.size()) OpenUrl(news[k].url);
  }
}

void LauncherWindow::PrimaryAction() {
  if (!notice.empty()) {
    notice.clear();
    // A successful launch changes no phase, so nothing else would repaint the line
    // and the cleared notice would stay on screen.
    InvalidateArea(kStatusLineArea);
  }
  switch (CurrentPhase(*state)) {
    case UpdatePhase::kVerifying:
    case UpdatePhase::kDownloading:
      // The job stops at its next test of the flag and publishes the phase it returns
      // to; until then the button keeps reading CANCELAR.
      state->jobs.cancel.exchange(true);
      return;
    case UpdatePhase::kNotInstalled:
    case UpdatePhase::kUpdateAvailable:
      // The player asks again: a download cancelled earlier may start.
      state->jobs.downloads_held.store(false);
      services_.start_update_job();
      return;
    case UpdatePhase::kUpToDate:
    case UpdatePhase::kOffline:
      PlayClient();
      return;
    case UpdatePhase::kFailed:
      // A retry that finds work goes straight on to the update.
      state->jobs.downloads_held.store(false);
      services_.start_check({EngineAction::kCheck, AfterCheck::kUpdateWhenNeeded});
      return;
    default:
      return;
  }
}

void LauncherWindow::ChooseNextSpeedLimit() {
  settings.download_limit_kib = NextSpeedLimitKib(settings.download_limit_kib);
  // The workers draw from the shared limit: a download under way slows or speeds up
  // within a fraction of a second, without a restart.
  state->jobs.download_limit.SetRate(std::uint64_t{settings.download_limit_kib} * 1024);
  services_.save_settings(settings);
  host_->Invalidate(elements[kSpeedLimitControl].rect);
}

void LauncherWindow::PlayClient() {
  Message error;
  if (services_.launch_client(config, settings.renderer, install_folder, error)) {
    if (config.close_on_play) {
      host_->Close();
    } else {
      host_->Minimize();
    }
    return;
  }
  if (error.empty()) return;
  notice = Sentence(error);
  InvalidateArea(kStatusLineArea);
}

void LauncherWindow::OpenConfiguredLink(std::string address, const std::string& default_path,
                                        const std::string& display_name) {
  if (address.empty()) address = DeriveLinkAddress(config.base_url, default_path);
  if (OpenUrl(address)) return;
  notice = LinkNotConfiguredNotice(display_name);
  InvalidateArea(kStatusLineArea);
}

bool LauncherWindow::OpenUrl(const std::string& address) {
  const std::optional<std::string> link = ParseWebLink(address);
  if (!link) return false;
  // Whether the desktop then manages to start a browser is not known here; the click
  // has done all it can.
  host_->OpenUrl(*link);
  return true;
}

}  // namespace brisal

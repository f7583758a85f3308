// What the elements do: the primary action in each phase, the renderer selector and
// the web links.
#include "ui/actions.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/ui/window_fixture.h"

namespace brisal {
namespace {

constexpr char kLinkNoticeTail[] =
    " no está configurado (BRISAL_DISCORD en config.h o \"links\" en config.json).";

const Message kCannotStart(MessageCode::kClientStartFailed, {}, 13);

class ActionsTest : public testing::WindowFixture {};

TEST_F(ActionsTest, PrimaryActionByPhase) {
  config.auto_update = false;  // REINTENTAR must ask for the update regardless
  UserSettings settings;
  settings.renderer = 1;
  settings.install_dir = "/juegos/mi cliente";
  Open(1.0f, settings);

  // Asking for the update lifts the hold a cancelled download left.
  Publish(UpdatePhase::kNotInstalled);
  state.jobs.downloads_held = true;
  Click(kPrimaryButton);
  EXPECT_FALSE(state.jobs.downloads_held.load());
  Publish(UpdatePhase::kUpdateAvailable);
  state.jobs.downloads_held = true;
  Click(kPrimaryButton);
  EXPECT_FALSE(state.jobs.downloads_held.load());
  EXPECT_EQ(log.update_jobs, 2);
  EXPECT_TRUE(log.checks.empty());
  EXPECT_TRUE(log.launches.empty());

  for (UpdatePhase phase : {UpdatePhase::kVerifying, UpdatePhase::kDownloading}) {
    Publish(phase);
    state.jobs.cancel = false;
    Click(kPrimaryButton);
    EXPECT_TRUE(state.jobs.cancel.load()) << "phase " << static_cast<int>(phase);
  }
  EXPECT_EQ(log.update_jobs, 2);

  for (UpdatePhase phase : {UpdatePhase::kUpToDate, UpdatePhase::kOffline}) {
    Publish(phase);
    Click(kPrimaryButton);
  }
  ASSERT_EQ(log.launches.size(), 2u);
  EXPECT_EQ(log.launches[1].renderer_index, 1);
  EXPECT_EQ(log.launches[1].install_folder, "/juegos/mi cliente");

  Publish(UpdatePhase::kFailed);
  Click(kPrimaryButton);
  ASSERT_EQ(log.checks.size(), 1u);
  EXPECT_FALSE(log.checks[0].verify_all);
  EXPECT_FALSE(log.checks[0].quiet);
  EXPECT_TRUE(log.checks[0].auto_update);

  // Phases without an action: starting and checking do nothing even when called
  // directly (the button is disabled there anyway).
  state.jobs.cancel = false;
  for (UpdatePhase phase : {UpdatePhase::kStarting, UpdatePhase::kChecking}) {
    Publish(phase);
    window->PrimaryAction();
  }
  EXPECT_EQ(log.update_jobs, 2);
  EXPECT_EQ(log.launches.size(), 2u);
  EXPECT_EQ(log.checks.size(), 1u);
  EXPECT_FALSE(state.jobs.cancel.load());
}

TEST_F(ActionsTest, PrimaryActionClearsTheNoticeAndRepaintsTheStatusLine) {
  Open(1.5f);
  Publish(UpdatePhase::kUpToDate);
  window->notice = LinkNotConfiguredNotice("Discord");
  host.invalidated.clear();
  Click(kPrimaryButton);
  ASSERT_EQ(log.launches.size(), 1u);
  EXPECT_TRUE(window->notice.empty());
  // A successful launch changes no phase; the old notice must not stay painted.
  EXPECT_NE(
      std::find(host.invalidated.begin(), host.invalidated.end(), PixelRect{60, 780, 978, 825}),
      host.invalidated.end());

  // A failed launch leaves its own notice.
  log.launch_error = kCannotStart;
  Click(kPrimaryButton);
  EXPECT_EQ(window->notice, Sentence(kCannotStart));
}

TEST_F(ActionsTest, AStartedClientClosesOrMinimisesTheWindowAFailedOneStaysOpen) {
  struct Case {
    bool close_on_play;
    Message launch_error;
    int closed, minimized;
  };
  for (const Case& c :
       {Case{false, {}, 0, 1}, Case{true, {}, 1, 0}, Case{true, kCannotStart, 0, 0}}) {
    config.close_on_play = c.close_on_play;
    log.launch_error = c.launch_error;
    Open(1.25f);
    Publish(UpdatePhase::kUpToDate);
    host.invalidated.clear();
    host.closed = host.minimized = 0;
    Click(kPrimaryButton);
    EXPECT_EQ(host.closed, c.closed) << c.close_on_play;
    EXPECT_EQ(host.minimized, c.minimized) << c.close_on_play;
    EXPECT_EQ(window->notice, Sentence(c.launch_error));
    if (!c.launch_error.empty()) {
      EXPECT_NE(
          std::find(host.invalidated.begin(), host.invalidated.end(), PixelRect{50, 650, 815, 688}),
          host.invalidated.end());
    }
  }
}

TEST_F(ActionsTest, RendererSelectorCyclesAndSavesSettings) {
  config.renderers = {{"OpenGL", "gl/brisal"}, {"DirectX", "dx/brisal"}, {"Vulkan", "vk/brisal"}};
  UserSettings settings;
  settings.renderer = 2;
  settings.install_dir = "/juegos/brisal";
  Open(1.0f, settings);
  host.invalidated.clear();

  Click(kRendererSelector);
  EXPECT_EQ(window->settings.renderer, 0);
  EXPECT_EQ(LoadSettings().renderer, 0);
  EXPECT_EQ(LoadSettings().install_dir, "/juegos/brisal");
  EXPECT_NE(std::find(host.invalidated.begin(), host.invalidated.end(),
                      window->elements[kRendererSelector].rect),
            host.invalidated.end());

  Click(kRendererSelector);
  EXPECT_EQ(window->settings.renderer, 1);
  EXPECT_EQ(LoadSettings().renderer, 1);
  EXPECT_EQ(log.settings_saves, 2);

  // The selector works in every phase, busy ones included.
  Publish(UpdatePhase::kDownloading);
  Click(kRendererSelector);
  EXPECT_EQ(LoadSettings().renderer, 2);
}

TEST_F(ActionsTest, SpeedFigureStepsThroughLimitsAppliedAtOnceAndSaved) {
  Open(1.0f, UserSettings{"", -1, 3000});  // a limit edited by hand
  window->Start();
  EXPECT_EQ(state.jobs.download_limit.Rate(), 3000u * 1024);
  for (const std::uint32_t kib : {2048u, 1024u, 0u, 20480u, 10240u}) {
    Click(kSpeedLimitControl);
    EXPECT_EQ(state.jobs.download_limit.Rate(), std::uint64_t{kib} * 1024);
    EXPECT_EQ(LoadSettings().download_limit_kib, kib);
  }
}

TEST_F(ActionsTest, ConfiguredLinksOpenAsWritten) {
  config.website = "https://brisal.example/inicio";
  config.register_url = "http://brisal.example/alta?ref=launcher";
  config.discord = "https://discord.gg/brisal";
  Open();
  Click(kWebsiteLink);
  Click(kRegisterLink);
  Click(kDiscordLink);
  EXPECT_EQ(host.opened, (std::vector<std::string>{"https://brisal.example/inicio",
                                                   "http://brisal.example/alta?ref=launcher",
                                                   "https://discord.gg/brisal"}));
  EXPECT_TRUE(window->notice.empty());
}

TEST_F(ActionsTest, EmptyLinksFallBackToTheServersOrigin) {
  config.website = "";
  config.register_url = "";
  config.base_url = "https://updates.example:8443/brisal/";
  Open();
  Click(kWebsiteLink);
  Click(kRegisterLink);
  EXPECT_EQ(host.opened, (std::vector<std::string>{"https://updates.example:8443/index.php",
                                                   "https://updates.example:8443/register.php"}));

  EXPECT_EQ(DeriveLinkAddress("http://updates.example", "index.php"),
            "http://updates.example/index.php");
  EXPECT_EQ(DeriveLinkAddress("https://updates.example/brisal/", ""), "");
  EXPECT_EQ(DeriveLinkAddress("", "index.php"), "");
  // Without "://" the whole text is the origin; what comes out is then no web
  // address and is refused when opened.
  EXPECT_EQ(DeriveLinkAddress("updates.example/brisal/", "index.php"),
            "updates.example/brisal//index.php");
}

TEST_F(ActionsTest, LinksWithoutUsableAddressShowTheNoticeAtOnce) {
  config.base_url = "";
  config.website = "";
  config.register_url = "www.brisal.example/registro";  // no scheme: never opened
  config.discord = "";
  Open(1.5f);
  Publish(UpdatePhase::kDownloading);  // whatever the phase

  struct Case {
    int element;
    const char* name;
  };
  for (const Case& c : {Case{kWebsiteLink, "Website"}, Case{kRegisterLink, "Registro"},
                        Case{kDiscordLink, "Discord"}}) {
    host.invalidated.clear();
    Click(c.element);
    EXPECT_EQ(window->notice, std::string("El link de ") + c.name + kLinkNoticeTail);
    EXPECT_NE(
        std::find(host.invalidated.begin(), host.invalidated.end(), PixelRect{60, 780, 978, 825}),
        host.invalidated.end())
        << c.name;
  }
  EXPECT_TRUE(host.opened.empty());

  // The discord link never derives an address, even with a server configured.
  config.base_url = "https://updates.example/brisal/";
  config.discord = "";
  Open();
  Click(kDiscordLink);
  EXPECT_TRUE(host.opened.empty());
  EXPECT_EQ(window->notice, std::string("El link de Discord") + kLinkNoticeTail);
}

TEST(WebAddress, OnlyExactHttpAndHttpsPrefixes) {
  EXPECT_TRUE(IsWebAddress("http://a"));
  EXPECT_TRUE(IsWebAddress("https://a.example/x"));
  for (const char* refused :
       {"", "http:/a", "HTTP://a.example", "Https://a.example", " https://a.example",
        "file:///etc/passwd", "javascript:alert(1)", "ftp://a.example", "https:", "http//a"}) {
    EXPECT_FALSE(IsWebAddress(refused)) << refused;
  }
}

}  // namespace
}  // namespace brisal

// Pointer and keyboard handling: hover, press, capture, click, cursor and keys.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tests/ui/window_fixture.h"

namespace brisal {
namespace {

class InputTest : public testing::WindowFixture {
 protected:
  InputTest() {
    config.website = "https://brisal.example/";
    config.discord = "https://discord.example/brisal";
  }
};

TEST_F(InputTest, HoverRepaintsOnlyTheTwoElementsInvolved) {
  Open(1.5f);
  host.invalidated.clear();
  window->OnMouseMove(CenterX(kWebsiteLink), CenterY(kWebsiteLink));
  EXPECT_EQ(window->hot_element, kWebsiteLink);
  EXPECT_EQ(host.invalidated, (std::vector<PixelRect>{window->elements[kWebsiteLink].rect}));

  // Moving within the same element repaints nothing.
  host.invalidated.clear();
  window->OnMouseMove(CenterX(kWebsiteLink) + 3, CenterY(kWebsiteLink) + 1);
  EXPECT_TRUE(host.invalidated.empty());

  window->OnMouseMove(CenterX(kRegisterLink), CenterY(kRegisterLink));
  EXPECT_EQ(window->hot_element, kRegisterLink);
  EXPECT_EQ(host.invalidated, (std::vector<PixelRect>{window->elements[kWebsiteLink].rect,
                                                      window->elements[kRegisterLink].rect}));

  // Onto empty background, then out of the window.
  host.invalidated.clear();
  window->OnMouseMove(5, 300);
  EXPECT_EQ(window->hot_element, kNoElement);
  EXPECT_EQ(host.invalidated, (std::vector<PixelRect>{window->elements[kRegisterLink].rect}));
  window->OnMouseMove(CenterX(kPrimaryButton), CenterY(kPrimaryButton));
  host.invalidated.clear();
  window->OnMouseLeave();
  EXPECT_EQ(window->hot_element, kNoElement);
  EXPECT_FALSE(window->tracking_leave);
  EXPECT_EQ(host.invalidated, (std::vector<PixelRect>{window->elements[kPrimaryButton].rect}));
  host.invalidated.clear();
  window->OnMouseLeave();
  EXPECT_TRUE(host.invalidated.empty());
}

TEST_F(InputTest, ClickNeedsPressAndReleaseOnTheSameElement) {
  Open();
  const int wx = CenterX(kWebsiteLink), wy = CenterY(kWebsiteLink);

  window->OnMouseDown(wx, wy);
  EXPECT_EQ(window->pressed_element, kWebsiteLink);
  EXPECT_TRUE(host.captured);
  // Released over another button: nothing opens, the press and capture end.
  window->OnMouseUp(CenterX(kDiscordLink), CenterY(kDiscordLink));
  EXPECT_EQ(window->pressed_element, kNoElement);
  EXPECT_FALSE(host.captured);
  EXPECT_TRUE(host.opened.empty());

  // Moved off and released far outside the window (possible under capture).
  window->OnMouseDown(wx, wy);
  window->OnMouseMove(-40, 2000);
  window->OnMouseUp(-40, 2000);
  EXPECT_TRUE(host.opened.empty());
  EXPECT_FALSE(host.captured);

  // Pressed on the background, released on the button: not a click either.
  window->OnMouseDown(5, 300);
  EXPECT_FALSE(host.captured);
  window->OnMouseUp(wx, wy);
  EXPECT_TRUE(host.opened.empty());

  // Alt+Tab or a system dialog mid-press: the release goes to another window, and the
  // button must not stay drawn pressed.
  window->OnMouseDown(wx, wy);
  host.invalidated.clear();
  window->OnCaptureLost();
  EXPECT_EQ(window->pressed_element, kNoElement);
  EXPECT_FALSE(host.captured);
  EXPECT_EQ(host.invalidated, (std::vector<PixelRect>{window->elements[kWebsiteLink].rect}));
  window->OnMouseUp(wx, wy);
  EXPECT_TRUE(host.opened.empty());

  // Moving off and back before releasing still counts.
  window->OnMouseDown(wx, wy);
  window->OnMouseMove(5, 300);
  window->OnMouseMove(wx, wy);
  window->OnMouseUp(wx, wy);
  EXPECT_EQ(host.opened, (std::vector<std::string>{"https://brisal.example/"}));
}

TEST_F(InputTest, PressAndReleaseRepaintThePressedElement) {
  Open(1.5f);
  host.invalidated.clear();
  window->OnMouseDown(CenterX(kRendererSelector), CenterY(kRendererSelector));
  EXPECT_EQ(host.invalidated, (std::vector<PixelRect>{window->elements[kRendererSelector].rect}));
  host.invalidated.clear();
  window->OnMouseUp(5, 300);
  EXPECT_EQ(host.invalidated, (std::vector<PixelRect>{window->elements[kRendererSelector].rect}));
}

TEST_F(InputTest, DisabledElementsShowTheArrowAndIgnoreClicks) {
  Open();
  Publish(UpdatePhase::kVerifying);  // verify, folder and nothing-to-press states
  ASSERT_FALSE(window->elements[kVerifyButton].enabled);

  window->OnMouseMove(CenterX(kVerifyButton), CenterY(kVerifyButton));
  EXPECT_EQ(window->hot_element, kVerifyButton);  // found, but not clickable
  window->OnSetCursor();
  EXPECT_EQ(host.cursor, CursorKind::kArrow);
  window->OnMouseDown(CenterX(kVerifyButton), CenterY(kVerifyButton));
  window->OnMouseUp(CenterX(kVerifyButton), CenterY(kVerifyButton));
  EXPECT_TRUE(log.checks.empty());
  EXPECT_FALSE(host.captured);

  // The same spot once the phase is idle again.
  Publish(UpdatePhase::kUpToDate);
  window->OnSetCursor();
  EXPECT_EQ(host.cursor, CursorKind::kHand);
  window->OnMouseDown(CenterX(kVerifyButton), CenterY(kVerifyButton));
  window->OnMouseUp(CenterX(kVerifyButton), CenterY(kVerifyButton));
  ASSERT_EQ(log.checks.size(), 1u);
  EXPECT_TRUE(log.checks[0].verify_all);
  EXPECT_FALSE(log.checks[0].quiet);
  EXPECT_FALSE(log.checks[0].auto_update);

  window->OnMouseMove(5, 300);
  window->OnSetCursor();
  EXPECT_EQ(host.cursor, CursorKind::kArrow);
}

// No system reports a move for a pointer that stays put: the state sync itself must
// bring the hover and the cursor up to date with the elements under the pointer.
TEST_F(InputTest, HoverAndCursorFollowElementsChangingUnderAStillPointer) {
  const std::vector<NewsItem> one_item = {{"Evento", "Uno", "1 may", "https://brisal.example/n/1"}};
  struct Case {
    const char* name;
    int element;
    std::function<void()> before, change;
    bool pointer_left;  // the pointer left the window before the change
    int hot_after;
    CursorKind cursor_after;
  };
  const Case cases[] = {
      {"disabled under the pointer", kVerifyButton, [this] { Publish(UpdatePhase::kUpToDate); },
       [this] { Publish(UpdatePhase::kChecking); }, false, kVerifyButton, CursorKind::kArrow},
      {"enabled under the pointer", kVerifyButton, [this] { Publish(UpdatePhase::kChecking); },
       [this] { Publish(UpdatePhase::kUpToDate); }, false, kVerifyButton, CursorKind::kHand},
      {"news row appears under the pointer", kFirstNewsRow,
       [this] { Publish(UpdatePhase::kUpToDate); }, [&] { SetNews(one_item); }, false,
       kFirstNewsRow, CursorKind::kHand},
      {"news row goes from under the pointer", kFirstNewsRow, [&] { SetNews(one_item); },
       [this] { SetNews({}); }, false, kNoElement, CursorKind::kArrow},
      {"pointer outside the window", kVerifyButton, [this] { Publish(UpdatePhase::kChecking); },
       [this] { Publish(UpdatePhase::kUpToDate); }, true, kNoElement, CursorKind::kArrow},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Open();
    c.before();
    window->OnMouseMove(CenterX(c.element), CenterY(c.element));
    window->OnSetCursor();
    if (c.pointer_left) window->OnMouseLeave();
    const int sets_before = host.cursor_sets;

    c.change();
    EXPECT_EQ(window->hot_element, c.hot_after);
    EXPECT_EQ(host.cursor, c.cursor_after);
    // Another window's cursor is not ours to set.
    if (c.pointer_left) {
      EXPECT_EQ(host.cursor_sets, sets_before);
    }
  }
}

TEST_F(InputTest, NewsRowsWithoutAddressAreInvisibleToThePointer) {
  Open();
  SetNews({{"Evento", "Uno", "1 may", "https://brisal.example/n/1"},
           {"", "Dos", "2 may", ""},
           {"", "Tres", "3 may", "file:///etc/passwd"}});
  Publish(UpdatePhase::kUpToDate);

  window->OnMouseMove(CenterX(kFirstNewsRow + 1), CenterY(kFirstNewsRow + 1));
  EXPECT_EQ(window->hot_element, kNoElement);
  window->OnMouseMove(CenterX(kFirstNewsRow + 4), CenterY(kFirstNewsRow + 4));
  EXPECT_EQ(window->hot_element, kNoElement);
  Click(kFirstNewsRow + 1);
  Click(kFirstNewsRow + 3);
  EXPECT_TRUE(host.opened.empty());

  Click(kFirstNewsRow);
  // A row whose address is not a web address is enabled but opens nothing, silently.
  Click(kFirstNewsRow + 2);
  EXPECT_EQ(host.opened, (std::vector<std::string>{"https://brisal.example/n/1"}));
  EXPECT_TRUE(window->notice.empty());
}

TEST_F(InputTest, TitleBarGlyphsMinimiseAndClose) {
  Open();
  Click(kMinimizeButton);
  EXPECT_EQ(host.minimized, 1);
  EXPECT_EQ(host.closed, 0);
  Click(kCloseButton);
  EXPECT_EQ(host.closed, 1);
}

TEST_F(InputTest, EnterAndSpaceRunThePrimaryActionOnlyWhenEnabled) {
  Open();
  Publish(UpdatePhase::kChecking);  // COMPROBANDO, disabled
  window->OnKeyDown(Key::kEnter, false);
  window->OnKeyDown(Key::kSpace, false);
  EXPECT_EQ(log.update_jobs, 0);
  EXPECT_TRUE(log.checks.empty());

  Publish(UpdatePhase::kNotInstalled);
  window->OnKeyDown(Key::kEnter, false);
  EXPECT_EQ(log.update_jobs, 1);
  window->OnKeyDown(Key::kSpace, false);
  EXPECT_EQ(log.update_jobs, 2);
  // A held key's auto-repeat is not a new press.
  window->OnKeyDown(Key::kEnter, true);
  EXPECT_EQ(log.update_jobs, 2);

  Publish(UpdatePhase::kDownloading);
  state.jobs.cancel = false;
  window->OnKeyDown(Key::kEnter, false);
  EXPECT_TRUE(state.jobs.cancel.load());

  window->OnKeyDown(Key::kOther, false);
  EXPECT_EQ(host.minimized, 0);
  EXPECT_EQ(log.update_jobs, 2);
}

TEST_F(InputTest, EscapeMinimisesInEveryPhase) {
  Open();
  for (int phase = 0; phase <= 8; ++phase) {
    Publish(static_cast<UpdatePhase>(phase));
    window->OnKeyDown(Key::kEscape, false);
    EXPECT_EQ(host.minimized, phase + 1) << "phase " << phase;
  }
  EXPECT_EQ(log.update_jobs, 0);
  EXPECT_TRUE(log.launches.empty());
}

}  // namespace
}  // namespace brisal

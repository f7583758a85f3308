// Mouse and keyboard: hover, press with capture, click on release, cursor and keys.
// A click is a press and a release over the same enabled element; everything else a
// pointer does only changes how elements look.
#include "ui/launcher_window.h"

namespace brisal {

void LauncherWindow::OnMouseMove(int x, int y) {
  // A host that must ask for the leave report (Win32's TrackMouseEvent) asks while
  // this is still false, before forwarding the move; SDL reports leaving unasked.
  tracking_leave = true;
  pointer_x_ = x;
  pointer_y_ = y;
  SetHotElement(HitTest(elements, x, y));
}

void LauncherWindow::SetHotElement(int hit) {
  if (hit == hot_element) return;
  const int previous = hot_element;
  hot_element = hit;
  if (previous >= 0) host_->Invalidate(elements[previous].rect);
  if (hit >= 0) host_->Invalidate(elements[hit].rect);
}

bool LauncherWindow::ShowsHand() const {
  return hot_element >= 0 && elements[hot_element].enabled;
}

void LauncherWindow::FollowStillPointer(bool showed_hand) {
  // No system sends a move for a pointer that stays put, so an element enabled,
  // disabled, shown or hidden under it would keep the old hover and cursor until the
  // player moved. Outside the window (or while the folder picker holds the input)
  // there is nothing to follow.
  if (!tracking_leave) return;
  SetHotElement(HitTest(elements, pointer_x_, pointer_y_));
  if (ShowsHand() != showed_hand) OnSetCursor();
}

void LauncherWindow::OnMouseLeave() {
  tracking_leave = false;
  if (hot_element < 0) return;
  const int previous = hot_element;
  hot_element = kNoElement;
  host_->Invalidate(elements[previous].rect);
}

void LauncherWindow::OnMouseDown(int x, int y) {
  pressed_element = HitTest(elements, x, y);
  if (pressed_element < 0) return;
  // Captured so that a release outside the window still ends the press.
  host_->CaptureMouse();
  host_->Invalidate(elements[pressed_element].rect);
}

void LauncherWindow::OnMouseUp(int x, int y) {
  const int hit = HitTest(elements, x, y);
  const int pressed = pressed_element;
  pressed_element = kNoElement;
  if (host_->HasMouseCapture()) host_->ReleaseMouse();
  if (pressed >= 0) host_->Invalidate(elements[pressed].rect);
  if (hit >= 0 && hit == pressed && elements[hit].enabled) OnElementClick(hit);
}

void LauncherWindow::OnCaptureLost() {
  // Another window took the mouse mid-press (Alt+Tab, a system dialog): the release
  // will never come here, so the press ends now, without a click, and the button
  // stops looking pressed.
  if (host_->HasMouseCapture()) host_->ReleaseMouse();
  if (pressed_element < 0) return;
  const int pressed = pressed_element;
  pressed_element = kNoElement;
  host_->Invalidate(elements[pressed].rect);
}

void LauncherWindow::OnSetCursor() {
  host_->SetCursor(ShowsHand() ? CursorKind::kHand : CursorKind::kArrow);
}

void LauncherWindow::OnKeyDown(Key key, bool repeat) {
  // A held Enter on JUGAR would start the client once per auto-repeat.
  if (repeat) return;
  switch (key) {
    case Key::kEnter:
    case Key::kSpace:
      if (elements[kPrimaryButton].enabled) PrimaryAction();
      break;
    case Key::kEscape:
      host_->Minimize();
      break;
    case Key::kOther:
      break;
  }
}

}  // namespace brisal

// What the portable window logic asks of the platform's window (SDL2 on Linux, Win32
// on Windows). Everything runs on the user-interface thread. Tests use a fake host.
#pragma once

#include <string>

namespace brisal {

struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;   // exclusive
  int bottom = 0;  // exclusive

  bool operator==(const PixelRect&) const = default;
};

enum class CursorKind { kArrow, kHand };

class WindowHost {
 public:
  virtual ~WindowHost() = default;

  // Marks a rectangle for repainting (never erases the background).
  virtual void Invalidate(const PixelRect& rect) = 0;
  virtual void StartTimer(int id, int milliseconds) = 0;
  virtual void StopTimer(int id) = 0;
  virtual void CaptureMouse() = 0;
  virtual void ReleaseMouse() = 0;
  virtual bool HasMouseCapture() const = 0;
  virtual void SetCursor(CursorKind cursor) = 0;
  virtual void Minimize() = 0;
  // Closes through the window's normal close path (cancel raised, loop ended).
  virtual void Close() = 0;
  // Hands an http:// or https:// address to the desktop's browser.
  virtual bool OpenUrl(const std::string& url) = 0;
  // The desktop's folder picker; false when the player cancelled.
  virtual bool PickFolder(const std::string& title, const std::string& start_folder,
                          std::string& chosen) = 0;
};

}  // namespace brisal

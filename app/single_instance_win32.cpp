#include "app/single_instance_win32.h"

namespace brisal {

SingleInstanceMutex::~SingleInstanceMutex() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

bool SingleInstanceMutex::AcquireFirst() {
  handle_ = CreateMutexW(nullptr, TRUE, kSingleInstanceMutexName);
  // The handle is valid even when the mutex already existed; held or not, only the
  // first instance keeps one.
  if (handle_ != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(handle_);
    handle_ = nullptr;
    return false;
  }
  return true;
}

bool RaiseExistingWindow(const wchar_t* window_class) {
  HWND window = FindWindowW(window_class, nullptr);
  if (window == nullptr) return false;
  ShowWindow(window, SW_RESTORE);
  // Above the other windows even where the system refuses this process the focus
  // (or, under Wine without a window manager, moves the focus but not the stacking).
  SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetForegroundWindow(window);
  return true;
}

}  // namespace brisal

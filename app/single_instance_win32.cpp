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
  SetForegroundWindow(window);
  return true;
}

}  // namespace brisal

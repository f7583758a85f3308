// One launcher per user session on Windows: the named mutex
// "Local\BrisalAscentLauncher", created owned and held for the whole run. A later
// start finds the first one's window by its class and brings it forward.
#pragma once

#include <windows.h>

namespace brisal {

inline constexpr wchar_t kSingleInstanceMutexName[] = L"Local\\BrisalAscentLauncher";

class SingleInstanceMutex {
 public:
  SingleInstanceMutex() = default;
  ~SingleInstanceMutex();
  SingleInstanceMutex(const SingleInstanceMutex&) = delete;
  SingleInstanceMutex& operator=(const SingleInstanceMutex&) = delete;

  // Creates the mutex. False only when it already existed: another launcher runs (or
  // is starting). Any other failure lets this process run as the first instance,
  // without a handle to close.
  bool AcquireFirst();

 private:
  HANDLE handle_ = nullptr;
};

// Restores and brings forward the top-level window of `window_class` (any title).
// False when there is none, e.g. the first launcher has no window yet.
bool RaiseExistingWindow(const wchar_t* window_class);

}  // namespace brisal

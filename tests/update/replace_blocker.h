// Makes a file impossible to replace for a while, the way a running game client holds
// its files on Windows: a handle without sharing there; on Linux the immutable
// attribute (as root) or a read-only folder (otherwise).
#pragma once

#include <cstdint>
#include <string>

namespace brisal::testing {

class ReplaceBlocker {
 public:
  explicit ReplaceBlocker(const std::string& path);
  ~ReplaceBlocker();
  ReplaceBlocker(const ReplaceBlocker&) = delete;
  ReplaceBlocker& operator=(const ReplaceBlocker&) = delete;

  bool active() const { return active_; }
  void Release();

 private:
  std::string path_;
  bool active_ = false;
  std::intptr_t handle_ = -1;
  int mode_ = 0;
};

void MakeReadOnly(const std::string& path);

}  // namespace brisal::testing

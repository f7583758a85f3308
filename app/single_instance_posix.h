// One launcher per user session on Linux: a lock file says which process is the first
// instance, and a local socket beside it lets a later start ask that instance to come
// to the front. Both live in $XDG_RUNTIME_DIR (private to the user), else in the data
// folder.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace brisal {

// The folder holding the lock file and the socket.
std::string SingleInstanceFolder();

class SingleInstance {
 public:
  explicit SingleInstance(std::string folder);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Takes the lock. False only when another process holds it; a lock file that cannot
  // be opened at all lets this process run as the first instance.
  bool AcquireFirst();

  // First instance, once its window exists: answers every later start by calling
  // `on_raise` (on a thread of its own). False when the socket cannot be set up.
  bool Listen(std::function<void()> on_raise);

  // Later start: asks the first instance to raise its window. False when no instance
  // answers, e.g. one that has no window yet.
  bool AskFirstToRaise() const;

 private:
  void Serve();

  std::string lock_path_;
  std::string socket_path_;
  int lock_fd_ = -1;
  int listen_fd_ = -1;
  int wake_fds_[2] = {-1, -1};  // a write ends the listener thread
  std::function<void()> on_raise_;
  std::thread listener_;
};

}  // namespace brisal

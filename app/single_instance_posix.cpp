#include "app/single_instance_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/paths.h"

namespace brisal {
namespace {

constexpr const char* kLockName = "brisal-launcher.lock";
constexpr const char* kSocketName = "brisal-launcher.sock";

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// False when the path does not fit a socket address (108 bytes with its terminator).
bool SocketAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

std::string SingleInstanceFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat info;
  if (runtime != nullptr && runtime[0] == '/' && stat(runtime, &info) == 0 &&
      S_ISDIR(info.st_mode)) {
    return runtime;
  }
  return DataFolder();
}

SingleInstance::SingleInstance(std::string folder)
    : lock_path_(JoinPath(folder, kLockName)), socket_path_(JoinPath(folder, kSocketName)) {}

SingleInstance::~SingleInstance() {
  if (listener_.joinable()) {
    const char stop = 'q';
    while (write(wake_fds_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    listener_.join();
  }
  if (listen_fd_ >= 0) unlink(socket_path_.c_str());
  CloseFd(listen_fd_);
  CloseFd(wake_fds_[0]);
  CloseFd(wake_fds_[1]);
  // Closing the descriptor releases the lock; the file stays for the next start.
  CloseFd(lock_fd_);
}

bool SingleInstance::AcquireFirst() {
  lock_fd_ = open(lock_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock_fd_ < 0) return true;
  int result;
  do {
    result = flock(lock_fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  const bool held_elsewhere = errno == EWOULDBLOCK;
  CloseFd(lock_fd_);
  return !held_elsewhere;
}

bool SingleInstance::Listen(std::function<void()> on_raise) {
  sockaddr_un address;
  if (listener_.joinable() || !SocketAddress(socket_path_, address)) return false;
  if (pipe2(wake_fds_, O_CLOEXEC) != 0) return false;
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return false;
  // A socket file left by a launcher that crashed; only the lock holder gets here.
  unlink(socket_path_.c_str());
  if (bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_fd_, 4) != 0) {
    CloseFd(listen_fd_);
    return false;
  }
  on_raise_ = std::move(on_raise);
  listener_ = std::thread([this] { Serve(); });
  return true;
}

void SingleInstance::Serve() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_fds_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int connection = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    // A connection is the whole request: nothing is read, so a client that never
    // writes cannot stall the listener.
    close(connection);
    on_raise_();
  }
}

bool SingleInstance::AskFirstToRaise() const {
  sockaddr_un address;
  if (!SocketAddress(socket_path_, address)) return false;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool answered =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return answered;
}

}  // namespace brisal

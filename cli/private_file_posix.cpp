#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/private_file.h"

namespace brisal::cli {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // close() reports late write errors, so its result matters for the last step.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace

bool WriteNewPrivateFile(const std::string& path, const std::string& data, Message& error) {
  // O_EXCL with O_NOFOLLOW: neither an existing file nor a planted link is written
  // through. The mode is set at creation, so the key is never readable by others.
  Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (file.get() < 0) {
    error = errno == EEXIST ? Message(MessageCode::kPrivateKeyExists)
                            : Message(MessageCode::kVerbatim, std::strerror(errno));
    return false;
  }
  // The first failure is the one reported: errno is read right after the call that
  // set it, as later calls (close among them) may change it.
  int failure = 0;
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(file.get(), data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A write that takes nothing sets no errno; what errno holds then is stale.
      failure = n < 0 ? errno : EIO;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  if (failure == 0 && ::fsync(file.get()) != 0) failure = errno;
  if (!file.Close() && failure == 0) failure = errno;
  if (failure != 0) {
    error = Message(MessageCode::kVerbatim, std::strerror(failure));
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

}  // namespace brisal::cli

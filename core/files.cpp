// The parts of File that are the same on every platform.
#include "core/files.h"

namespace brisal {

File::~File() {
  Close();
}

File::File(File&& other) noexcept : handle_(other.handle_) {
  other.handle_ = kInvalid;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = kInvalid;
  }
  return *this;
}

bool File::WriteAll(const void* data, std::size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    std::int64_t n = Write(p, length);
    if (n <= 0) return false;
    p += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace brisal

// The parts of File that are the same on every platform.
#include "core/files.h"

#include <atomic>

#include "core/file_faults.h"

namespace brisal {

namespace {

// The test seam's observer (docs/architecture.md lists it among the process-wide
// state). Acquire/release: an observer's own fields, set before it is installed, are
// seen by the threads that call it.
std::atomic<FileOpObserver*> g_file_op_observer{nullptr};

}  // namespace

void SetFileOpObserver(FileOpObserver* observer) {
  g_file_op_observer.store(observer, std::memory_order_release);
}

bool FileOpFails(FileOp op) {
  FileOpObserver* observer = g_file_op_observer.load(std::memory_order_acquire);
  return observer != nullptr && !observer->Allow(op);
}

void NotifyFolderOpened(FileOp op) {
  FileOpObserver* observer = g_file_op_observer.load(std::memory_order_acquire);
  if (observer != nullptr) observer->FolderOpened(op);
}

bool ConfinedResolutionRefused() {
  FileOpObserver* observer = g_file_op_observer.load(std::memory_order_acquire);
  return observer != nullptr && !observer->AllowConfinedResolution();
}

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

#include "tests/fuzz/fuzz_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace brisal::fuzz {

namespace {

struct Scratch {
  std::string path;
  Scratch() {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/brisal-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    path = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

}  // namespace

const std::string& ScratchFolder() {
  static const Scratch scratch;
  return scratch.path;
}

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

void WriteScratchFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  Require(fd >= 0, "scratch file opens");
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    Require(n > 0, "scratch file is written");
    done += static_cast<std::size_t>(n);
  }
  close(fd);
}

}  // namespace brisal::fuzz

// Every test that touches the disk works in a folder of its own, removed afterwards.
#pragma once

#include <string>

namespace brisal::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() joined with a "/"-separated relative path in the platform's form.
  std::string Sub(const std::string& relative) const;

 private:
  std::string path_;
};

// Writes `data` to the file, creating parent folders; fails the test on error.
void WriteFile(const std::string& path, const std::string& data);
// The file's bytes, or "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace brisal::testing

// The safe-path rule and the join: a path the rule accepts, joined to the install
// folder, names something strictly below that folder, however it is normalised.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/paths.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using brisal::fuzz::Require;

bool HasDotSegment(const std::string& path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string segment = path.substr(start, end - start);
    if (segment == "." || segment == ".." || segment.empty()) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string relative(reinterpret_cast<const char*>(data), size);
  if (!brisal::IsSafeRelativePath(relative)) return 0;

  Require(!relative.empty() && relative.size() <= 240, "an accepted path has 1 to 240 bytes");
  Require(relative.front() != '/' && relative.find('\\') == std::string::npos,
          "an accepted path is relative and uses no backslash");
  Require(relative.find('\0') == std::string::npos, "an accepted path holds no NUL");

  const std::string folder = "/srv/install";
  const std::string native = brisal::ManifestPathToNative(relative);
  const std::string joined = brisal::JoinPath(folder, native);
  Require(joined.compare(0, folder.size() + 1, folder + "/") == 0,
          "the joined path starts with the folder and a separator");
  const std::string below = joined.substr(folder.size() + 1);
  Require(!below.empty() && !HasDotSegment(below),
          "what follows the folder has no empty, \".\" or \"..\" segment");

  const std::filesystem::path normal = std::filesystem::path(joined).lexically_normal();
  const std::filesystem::path inside = normal.lexically_relative(folder);
  Require(!inside.empty() && *inside.begin() != ".." && *inside.begin() != ".",
          "the normalised join stays strictly below the folder");
  return 0;
}

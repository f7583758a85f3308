// Links planted in test folders, the way each system can make them.
#pragma once

#include <string>

namespace brisal::testing {

// A link at `link` to the folder `target` (both full paths; `link` must not exist),
// removed again when this goes: a symbolic link on POSIX; on Windows a directory
// symbolic link, or under Wine, whose Win32 calls make none, a Linux one, which Wine
// shows as a reparse point but can neither remove nor let a folder walk pass.
class PlantedLink {
 public:
  PlantedLink(std::string link, const std::string& target);
  ~PlantedLink();
  PlantedLink(const PlantedLink&) = delete;
  PlantedLink& operator=(const PlantedLink&) = delete;

  // False when this system or the user's rights allow no link.
  bool made() const { return made_; }

 private:
  std::string link_;
  bool made_ = false;
};

}  // namespace brisal::testing

// Links planted in test folders, the way each system can make them.
#pragma once

#include <string>

namespace brisal::testing {

enum class LinkTo { kFolder, kFile };

// A link at `link` (a full path that must not exist) to `target` (a full path, or one
// relative to the link's folder), removed again when this goes, or whatever stands at
// its name by then: a symbolic link on POSIX; on Windows a symbolic link, or under
// Wine, whose Win32 calls make none, a Linux link to a folder, which Wine shows as a
// reparse point but cannot remove (a Linux link to a file it does not show as a link
// at all, so none is made there: made() is false).
class PlantedLink {
 public:
  PlantedLink(std::string link, const std::string& target, LinkTo kind = LinkTo::kFolder);
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

#include <unistd.h>

#include <utility>

#include "tests/support/planted_link.h"

namespace brisal::testing {

// A POSIX link is the same whatever it points at.
PlantedLink::PlantedLink(std::string link, const std::string& target, LinkTo)
    : link_(std::move(link)) {
  made_ = ::symlink(target.c_str(), link_.c_str()) == 0;
}

PlantedLink::~PlantedLink() {
  if (made_) ::unlink(link_.c_str());
}

}  // namespace brisal::testing

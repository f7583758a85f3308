#include <unistd.h>

#include <utility>

#include "tests/support/folder_link.h"

namespace brisal::testing {

FolderLink::FolderLink(std::string link, const std::string& target) : link_(std::move(link)) {
  made_ = ::symlink(target.c_str(), link_.c_str()) == 0;
}

FolderLink::~FolderLink() {
  if (made_) ::unlink(link_.c_str());
}

}  // namespace brisal::testing

// A new file only its owner may read, for the operator's private key.
#pragma once

#include <string>

#include "core/messages.h"

namespace brisal::cli {

// Creates `path` holding `data`; never replaces an existing file (a lost private key
// cannot be got back). On POSIX the file has mode 0600; on Windows its access list is
// protected (nothing inherited from the folder) and lets the current user alone in.
// False with the reason in `error`; a half-written file is removed.
bool WriteNewPrivateFile(const std::string& path, const std::string& data, Message& error);

}  // namespace brisal::cli

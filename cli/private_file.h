// A new file only its owner may read, for the operator's private key.
#pragma once

#include <string>

#include "core/messages.h"

namespace brisal::cli {

// Creates `path` holding `data`; never replaces an existing file (a lost private key
// cannot be got back). On POSIX the file has mode 0600; on Windows it takes the
// folder's permissions, which under the user's profile already keep others out. False
// with the reason in `error`; a half-written file is removed.
bool WriteNewPrivateFile(const std::string& path, const std::string& data, Message& error);

}  // namespace brisal::cli

// Reaching the Linux side from a test program that runs under Wine: where Wine keeps a
// Windows path, and starting a Linux program through Wine's own launch of them.
#pragma once

#include <string>

namespace brisal::testing {

// The Linux path of `path` (UTF-8); empty outside Wine.
std::string WineUnixPath(const std::string& path);

// Starts the Linux `program` (an absolute path) with `arguments` after its name. Wine
// gives no handle to such a process, so the caller waits for its effect instead; false
// outside Wine or when it cannot be started.
bool StartLinuxProgram(const char* program, const std::string& arguments);

}  // namespace brisal::testing

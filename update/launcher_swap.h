// Putting a new launcher program in place of the one installed, and the clean-up at
// the next start. Whatever step fails, and wherever the process is stopped, the
// launcher's path is left holding a whole program, the old one or the new one: a
// failed swap puts the old one back, and the next start finishes an interrupted one.
// Every step goes through the file operations of core/files.h, so the test seam of
// core/file_faults.h can fail each of them.
#pragma once

#include <string>

#include "core/messages.h"

namespace brisal {

enum class SwapMethod {
  // POSIX: one rename over the running program, which keeps its own copy open; there
  // is no moment without a program at the path.
  kReplaceInPlace,
  // Windows: a running program's file can be renamed but not replaced, so it is moved
  // aside to "<path>.old" first and removed at the next start.
  kMoveAside,
};

// Where the replaced program waits to be removed.
std::string AsidePath(const std::string& launcher_path);

// Moves `staged` (a verified, whole program on the same volume) to `launcher_path`.
// False with kLauncherSwapFailed when the old program is still the one in place.
bool SwapInLauncher(const std::string& launcher_path, const std::string& staged, SwapMethod method,
                    Message& error);

// At start: puts the old program back where a swap stopped between its two renames,
// and removes the one set aside by a finished swap. A removal that fails (the old
// process still ending) is tried again at the next start.
void FinishLauncherSwap(const std::string& launcher_path);

}  // namespace brisal

// What the client launch asks of its platform (process_posix.cpp / process_win32.cpp),
// and the launcher's restart into a newer version of itself (app/launcher_start.cpp).
#pragma once

#include <cstdint>
#include <string>

namespace brisal::platform {

// Whether a configured install_dir names a folder on its own rather than one below the
// executable's folder. Windows: a drive ("C:...") or a share ("\\server..."); a path
// written with forward slashes only ("//server") is relative there. POSIX: a leading "/".
bool IsAbsoluteInstallDir(const std::string& path);

// Starts `exe_path` with `client_args` in `working_dir` and returns at once: the client
// is never waited for or watched, and it inherits no handle or descriptor of ours.
// Windows: the command line is the quoted path, then a space and `client_args` exactly
// as configured. POSIX: `client_args` is split into words as a POSIX shell splits
// them; the caller has made the executable runnable (InstallTree::MakeExecutable).
// False on failure, with the system's error number (GetLastError / errno) in
// `system_error`; arguments that cannot be split (an unclosed quote) give EINVAL.
bool StartProcess(const std::string& exe_path, const std::string& client_args,
                  const std::string& working_dir, std::uint32_t& system_error);

}  // namespace brisal::platform

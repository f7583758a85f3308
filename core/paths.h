// Paths and whole-file operations. Paths are UTF-8 strings in the platform's own form
// ("/" on POSIX; "\" inserted on Windows, where "/" is accepted as well). Manifest
// paths are always "/"-separated and become platform paths only through
// ManifestPathToNative.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brisal {

// Largest file ReadWholeFile accepts (256 MiB); a file of exactly this size is read.
inline constexpr std::uint64_t kReadWholeFileLimit = 268435456;

// Folder of the running executable, without a trailing separator; "." when unknown.
std::string ExeFolder();

// Per-user data folder (settings, log, news cache), created on first use and cached
// for the rest of the process. The first call must happen before other threads run.
std::string DataFolder();

// Points the data folder elsewhere for the rest of the process. Tests use it to keep
// every run's log, settings and news cache in their own temporary folder.
void OverrideDataFolder(const std::string& folder);

// Joins two paths with the platform separator unless `a` already ends in one.
// `b` is used unchanged.
std::string JoinPath(const std::string& a, const std::string& b);

// Everything before the last separator; empty when there is none.
std::string ParentPath(const std::string& p);

// True when `p` exists as a folder at the end; creates missing parents first.
bool EnsureDirectory(const std::string& p);

// Reads a whole file of at most kReadWholeFileLimit bytes. `out` is untouched on failure.
bool ReadWholeFile(const std::string& path, std::string& out);

// A small file someone else may have put there (a config, a record): read whole when it
// is a regular file of at most `cap` bytes; kMissing only when nothing stands at `path`;
// anything else that stands there and cannot be read so is kUnusable.
enum class SmallFileRead { kRead, kMissing, kUnusable };
SmallFileRead ReadSmallFile(const std::string& path, std::uint64_t cap, std::string& out);

// Replaces `path` with exactly `data` through "<path>.tmp" and a replacing rename. The
// data reaches the disk before the rename, so a power cut leaves the old file or the
// new one, never a truncated or zero-filled one.
bool WriteFileAtomic(const std::string& path, const std::string& data);

// Whether a "/"-separated path from outside (manifest, config.json) may be used below
// the install folder: no absolute paths, no "." or ".." segments, no empty segments,
// nothing Windows forbids in a file name, 1 to 240 bytes; where the platform has
// device names or short names, no device name and no 8.3 alias in any segment.
bool IsSafeRelativePath(const std::string& s);

// The folder part of a manifest path ("a/b" for "a/b/c"); empty at the top.
std::string ParentManifestPath(const std::string& relative);

// Whether a file name is a Windows device (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9,
// CONIN$, CONOUT$, and COM/LPT with a superscript digit) in any letter case, with or
// without an extension: opening "COM1.pak" there talks to a serial port.
bool IsWindowsDeviceName(std::string_view name);

// Whether a file name has the shape of a Windows 8.3 alias: at most eight characters
// ending in "~" and digits, then at most a dot and three more ("DATA~1",
// "PROGRA~12.EXE"). Such a name may open a file listed under its long name.
bool IsShortNameAlias(std::string_view name);

// A manifest path ("/"-separated) in the platform's own form.
std::string ManifestPathToNative(const std::string& relative);

// True for the characters this platform treats as path separators.
bool IsPathSeparator(char c);

// The separator the program inserts.
char NativePathSeparator();

// Whether two paths are the same text the way this platform's file names compare:
// exactly on POSIX, without regard to letter case on Windows.
bool SamePathText(const std::string& a, const std::string& b);

// A key equal for two names this platform's file system takes for one file: the
// name itself on POSIX, its FoldCase on Windows.
std::string FileNameKey(const std::string& name);
// True where FileNameKey(name) is always `name` itself, so that a caller with many
// names need not make their keys.
bool FileNameKeysAreNames();

// The fewest characters a path, trailing separators removed, needs to name a folder
// rather than a drive or the file-system root: 1 on POSIX (anything but "/"), 4 on
// Windows ("C:\a"; "C:\" and "C:" are drive roots).
std::size_t ShortestNonRootFolder();

}  // namespace brisal

// What the portable core asks of its platform backend (files_posix.cpp /
// files_win32.cpp) and nothing else uses directly, but for ExecutablePath: the
// launcher's own update needs the program's file itself, not only its folder.
#pragma once

#include <string>

namespace brisal::platform {

// Whether names such as CON, NUL or COM1 open a device rather than a file here.
bool ReservesDeviceNames();

// Whether the file system gives files a second, 8.3 name ("DATA~1" for "data files")
// that opens the same file.
bool GivesShortNames();

// Full path of the running executable; empty when unknown.
std::string ExecutablePath();

// The per-user base folder that holds the data folder ($XDG_DATA_HOME or
// ~/.local/share; %LOCALAPPDATA%). False when it cannot be determined.
bool UserDataBase(std::string& folder);

struct LocalTime {
  int year, month, day, hour, minute, second;
};
LocalTime Now();

// Appends `data` to the file with one write on a descriptor opened for appending,
// creating the file when missing. Errors are swallowed: the log never fails visibly.
void AppendOnce(const std::string& path, const std::string& data);

}  // namespace brisal::platform

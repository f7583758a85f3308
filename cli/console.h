// The console side of brisal-cli: Ctrl-C and whether output goes to a terminal.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "core/messages.h"

namespace brisal::cli {

// From now on, Ctrl-C sets `cancel` and `interrupted` instead of killing the process,
// so the engine can stop cleanly (partial files kept). Call once, before any thread
// starts.
void InterceptInterrupt(std::atomic<bool>& cancel, std::atomic<bool>& interrupted);

bool IsTerminal(std::FILE* stream);

// The command-line arguments as UTF-8 (Windows hands main() the ANSI code page).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes the console show UTF-8 output as UTF-8.
void PrepareConsole();

// The operator's sentence for `message`, one line on standard error.
inline void Complain(const Message& message) {
  std::fprintf(stderr, "%s\n", Sentence(message).c_str());
}

}  // namespace brisal::cli

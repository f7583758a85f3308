// What every fuzz target shares: a scratch folder of its own for the loaders that read
// files, and the check that turns a broken property into a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brisal::fuzz {

// A folder created once per process (in /dev/shm when there is one, so the loaders'
// file round trips stay in memory), removed at exit.
const std::string& ScratchFolder();

// Aborts with `what` on stderr when `condition` is false: libFuzzer then saves the
// input as a crash file.
void Require(bool condition, const char* what);

// Writes `data` to `path`, truncating; aborts when it cannot (the harness is broken).
void WriteScratchFile(const std::string& path, const std::uint8_t* data, std::size_t size);

}  // namespace brisal::fuzz

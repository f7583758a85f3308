// The newest signed manifest an install folder accepted: its serial and the SHA-256 of
// its exact bytes. The folder's state file keeps the serial too, but anyone who can
// delete or corrupt the folder's files — or a second engine saving its own older copy —
// could lower it there. This record lives in the player's data folder, one per install
// folder, and only ever rises.
#pragma once

#include <cstdint>
#include <string>

namespace brisal {

struct AcceptedManifest {
  std::uint64_t serial = 0;
  std::string sha256;  // lower-case hex; empty: not known (only a serial was kept)
};

enum class RecordRead {
  kRead,
  kMissing,
  kUnusable,  // a record exists that cannot be read or parsed: what it held is unknown
};

// Reads the record of `install_dir`; `out` is set only on kRead.
RecordRead ReadAcceptedManifest(const std::string& install_dir, AcceptedManifest& out);

// Writes `accepted` as the record of `install_dir` if it is newer than the record read
// again just before — a higher serial, or the same serial where the record knew no
// digest. Never writes over an unusable record: the value it lost may be the higher one.
// False only when a write was due and failed.
bool RaiseAcceptedManifest(const std::string& install_dir, const AcceptedManifest& accepted);

}  // namespace brisal

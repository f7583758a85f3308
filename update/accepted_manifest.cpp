#include "update/accepted_manifest.h"

#include <nlohmann/json.hpp>

#include "client_files/sha256.h"
#include "client_files/sha256_hex.h"
#include "core/files.h"
#include "core/log.h"
#include "core/paths.h"

namespace brisal {

namespace {

using Json = nlohmann::json;

// A record is under a hundred bytes plus the folder's path.
constexpr std::uint64_t kRecordSizeCap = 64 * 1024;

// Named by the SHA-256 of the install folder's path: any path, whatever its characters
// or length, gives a short name that is safe on every file system. Empty when the hash
// provider failed.
std::string RecordPath(const std::string& install_dir) {
  const std::string name = Sha256Hex(install_dir);
  if (name.empty()) return {};
  return JoinPath(JoinPath(DataFolder(), "accepted"), name + ".json");
}

bool ParseRecord(const std::string& text, AcceptedManifest& out) {
  const Json doc = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object()) return false;
  auto serial = doc.find("serial");
  auto sha256 = doc.find("sha256");
  if (serial == doc.end() || !serial->is_number_unsigned()) return false;
  AcceptedManifest record;
  record.serial = serial->get<std::uint64_t>();
  if (sha256 != doc.end()) {
    if (!sha256->is_string()) return false;
    record.sha256 = sha256->get<std::string>();
    if (!NormaliseSha256Hex(record.sha256)) return false;
  }
  out = std::move(record);
  return true;
}

}  // namespace

RecordRead ReadAcceptedManifest(const std::string& install_dir, AcceptedManifest& out) {
  const std::string path = RecordPath(install_dir);
  if (path.empty()) return RecordRead::kUnusable;
  std::string text;
  const SmallFileRead read = ReadSmallFile(path, kRecordSizeCap, text);
  if (read == SmallFileRead::kRead && ParseRecord(text, out)) return RecordRead::kRead;
  if (read == SmallFileRead::kMissing) return RecordRead::kMissing;
  Log("registro del manifiesto aceptado ilegible: %s", path.c_str());
  return RecordRead::kUnusable;
}

bool RaiseAcceptedManifest(const std::string& install_dir, const AcceptedManifest& accepted) {
  AcceptedManifest current;
  switch (ReadAcceptedManifest(install_dir, current)) {
    case RecordRead::kUnusable:
      return true;
    case RecordRead::kRead:
      if (accepted.serial < current.serial) return true;
      if (accepted.serial == current.serial && !current.sha256.empty()) return true;
      break;
    case RecordRead::kMissing:
      break;
  }
  const std::string path = RecordPath(install_dir);
  CreateOneDirectory(ParentPath(path));
  Json record = {{"install_dir", install_dir}, {"serial", accepted.serial}};
  if (!accepted.sha256.empty()) record["sha256"] = accepted.sha256;
  if (WriteFileAtomic(path, record.dump(-1, ' ', false, Json::error_handler_t::replace))) return true;
  Log("no se pudo escribir el registro del manifiesto aceptado: %s", path.c_str());
  return false;
}

}  // namespace brisal

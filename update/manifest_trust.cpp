#include "update/manifest_trust.h"

#include <algorithm>
#include <chrono>

#include "client_files/signature.h"
#include "config/launcher_config.h"
#include "core/messages.h"
#include "core/text.h"
#include "net/http_client.h"

namespace brisal {

namespace {

// A signature is 88 characters of base64; anything much longer is not one, and is
// not worth holding in memory.
constexpr std::size_t kSignatureBodyCap = 4096;

}  // namespace

std::string SignaturePath(const std::string& manifest_path) {
  std::string path = manifest_path;
  path.insert(std::min(path.find('?'), path.size()), ".sig");
  return path;
}

bool VerifyManifestSignature(HttpClient& client, const std::string& manifest_path,
                             const std::string& manifest_key, const std::string& body,
                             const std::atomic<bool>& cancel, Message& error) {
  error = {};
  std::string point;
  if (!DecodeManifestKey(manifest_key, point)) {
    error = Message(MessageCode::kManifestKeyInvalid);
    return false;
  }
  const std::string path = SignaturePath(manifest_path);
  std::string text;
  const HttpResult result = client.Get(
      path, "Cache-Control: no-cache\r\n", nullptr,
      [&text](const char* data, std::uint32_t length) {
        text.append(data, length);
        return text.size() <= kSignatureBodyCap;
      },
      &cancel);
  if (cancel.load()) return false;
  if (result.status == 0) {
    error = Message(MessageCode::kSignatureFetchFailed, {}, result.error);
    return false;
  }
  if (result.status != 200) {
    error = Message(MessageCode::kSignatureMissing, path, result.status);
    return false;
  }
  std::string signature;
  // A body cut short by the network fails here too: a truncated text never decodes to
  // the 64 bytes, or decodes to a signature that does not verify.
  if (result.error != 0 || !DecodeBase64(text, signature) || signature.size() != kSignatureBytes) {
    error = Message(MessageCode::kSignatureInvalid);
    return false;
  }
  switch (VerifySignature(point, body, signature)) {
    case SignatureCheck::kValid:
      return true;
    case SignatureCheck::kBadKey:
      error = Message(MessageCode::kManifestKeyInvalid);
      return false;
    case SignatureCheck::kBadSignature:
      break;
  }
  error = Message(MessageCode::kSignatureInvalid);
  return false;
}

bool CheckManifestGuards(const Manifest& manifest, std::uint64_t accepted_serial, std::int64_t now,
                         Message& error) {
  if (manifest.guards_malformed) {
    error = Message(MessageCode::kManifestGuardsMalformed);
    return false;
  }
  if (manifest.serial.value_or(0) < accepted_serial) {
    error = Message(MessageCode::kManifestRolledBack);
    return false;
  }
  if (manifest.expires && *manifest.expires <= now) {
    error = Message(MessageCode::kManifestExpired);
    return false;
  }
  return true;
}

std::int64_t UnixTimeNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace brisal

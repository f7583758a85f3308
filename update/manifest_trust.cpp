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
                             const std::vector<std::string>& manifest_keys,
                             const std::string& body, const std::atomic<bool>& cancel,
                             Message& error) {
  error = {};
  std::vector<std::string> points(manifest_keys.size());
  for (std::size_t i = 0; i < manifest_keys.size(); ++i) {
    if (!DecodeManifestKey(manifest_keys[i], points[i])) {
      error = Message(MessageCode::kManifestKeyInvalid);
      return false;
    }
  }
  const std::string path = SignaturePath(manifest_path);
  const SmallDocument fetched =
      FetchSmallDocument(client, path, "Cache-Control: no-cache\r\n", kSignatureBodyCap, &cancel);
  const HttpResult& result = fetched.result;
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
  if (result.error != 0 || fetched.too_large || !DecodeBase64(fetched.body, signature) ||
      signature.size() != kSignatureBytes) {
    error = Message(MessageCode::kSignatureInvalid);
    return false;
  }
  // During a rotation the manifest is signed with either key; one must hold.
  for (const std::string& point : points) {
    switch (VerifySignature(point, body, signature)) {
      case SignatureCheck::kValid:
        return true;
      case SignatureCheck::kBadKey:
        error = Message(MessageCode::kManifestKeyInvalid);
        return false;
      case SignatureCheck::kBadSignature:
        break;
    }
  }
  error = Message(MessageCode::kSignatureInvalid);
  return false;
}

bool CheckManifestGuards(const Manifest& manifest, const std::string& sha256,
                         const AcceptedManifest& accepted, std::int64_t now, Message& error) {
  const std::uint64_t serial = manifest.serial.value_or(0);
  if (manifest.guards_malformed) {
    error = Message(MessageCode::kManifestGuardsMalformed);
  } else if (serial < accepted.serial) {
    error = Message(MessageCode::kManifestRolledBack);
  } else if (serial > 0 && serial == accepted.serial && !accepted.sha256.empty() &&
             sha256 != accepted.sha256) {
    // Two different manifests under one serial: one of them may be an older client
    // re-signed, and nothing else tells which came later.
    error = Message(MessageCode::kManifestSerialReused);
  } else if (!manifest.expires) {
    // Without an expiry, a manifest captured today could hold players on today's
    // client for ever.
    error = Message(MessageCode::kManifestNoExpiry);
  } else if (*manifest.expires <= now) {
    error = Message(MessageCode::kManifestExpired);
  } else {
    return true;
  }
  return false;
}

bool ManifestTrusted(LauncherState& state, const Manifest& manifest, const std::string& sha256,
                     Message& error) {
  if (state.plan.live.config_unusable) {
    error = Message(MessageCode::kConfigUnusable);
    return false;
  }
  if (state.plan.live.manifest_keys.empty()) return true;
  AcceptedManifest accepted;
  ReadAcceptedManifest(state.plan.live.install_dir, accepted);
  // The state file stands in where the record was lost (a new data folder, another
  // user): the higher of the two holds.
  if (const std::uint64_t kept = state.cache.Serial(); kept > accepted.serial) {
    accepted = AcceptedManifest{kept, {}};
  }
  return CheckManifestGuards(manifest, sha256, accepted, UnixTimeNow(), error);
}

bool RecordAccepted(LauncherState& state) {
  if (state.plan.live.manifest_keys.empty()) return false;
  const std::uint64_t serial = state.plan.manifest.serial.value_or(0);
  RaiseAcceptedManifest(state.plan.live.install_dir,
                        AcceptedManifest{serial, state.plan.manifest_sha256});
  return state.cache.RaiseSerial(serial);
}

std::int64_t UnixTimeNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace brisal

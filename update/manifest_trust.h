// Whether a manifest comes from the operator: with a manifest key configured, the
// engine acts only on a manifest whose signature (fetched from "<manifest>.sig")
// verifies over its exact bytes with one of the keys, whose serial is not below the
// highest one this install folder accepted (nor equal to it on other bytes), and which
// names an expiry still to come. Without a key none of this runs; with a config.json
// that could not be used, nothing is trusted.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "client_files/manifest.h"
#include "core/messages.h"
#include "core/mutex.h"
#include "shared_state/launcher_state.h"
#include "update/accepted_manifest.h"

namespace brisal {

class HttpClient;

// The signature's place beside the manifest: ".sig" after the path, before any query.
std::string SignaturePath(const std::string& manifest_path);

// Fetches the signature of `body` with `client` (opened on the manifest's server) and
// verifies it with each of `manifest_keys` (config.json's texts) until one holds. A
// text that is no key refuses at once. False with the reason in `error`; on a cancel,
// false with `error` empty.
bool VerifyManifestSignature(HttpClient& client, const std::string& manifest_path,
                             const std::vector<std::string>& manifest_keys,
                             const std::string& body, const std::atomic<bool>& cancel,
                             Message& error);

// Serial, digest and expiry of a signed manifest about to be used, against the newest
// one accepted. A missing serial counts as 0 (and then two manifests without one are
// not told apart); `now` is seconds since 1970-01-01 UTC.
bool CheckManifestGuards(const Manifest& manifest, const std::string& sha256,
                         const AcceptedManifest& accepted, std::int64_t now, Message& error);

// Whether the engine may act on `manifest` (whose bytes hash to `sha256`) in the live
// install folder now: the config was usable, and with keys configured its guards hold
// against the folder's record, read again here, and its state file. Call it with the
// folder's lock held where there is a folder.
bool ManifestTrusted(LauncherState& state, const Manifest& manifest, const std::string& sha256,
                     Message& error) REQUIRES(state.plan.job_lock);

// Remembers the plan's manifest as the newest accepted, in the state file's cache and
// in the record; true when the cache's serial rose (worth a save).
bool RecordAccepted(LauncherState& state) REQUIRES(state.plan.job_lock);

std::int64_t UnixTimeNow();

}  // namespace brisal

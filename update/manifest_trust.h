// Whether a manifest comes from the operator: with a manifest key configured, the
// check accepts only a manifest whose signature (fetched from "<manifest>.sig")
// verifies over its exact bytes, whose serial is not below the highest one this
// install folder accepted, and which has not expired. Without a key none of this runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "client_files/manifest.h"
#include "core/messages.h"

namespace brisal {

class HttpClient;

// The signature's place beside the manifest: ".sig" after the path, before any query.
std::string SignaturePath(const std::string& manifest_path);

// Fetches the signature of `body` with `client` (opened on the manifest's server) and
// verifies it with `manifest_key` (config.json's text). False with the reason in
// `error`; on a cancel, false with `error` empty.
bool VerifyManifestSignature(HttpClient& client, const std::string& manifest_path,
                             const std::string& manifest_key, const std::string& body,
                             const std::atomic<bool>& cancel, Message& error);

// Serial and expiry of a signed manifest about to be used. A missing serial counts as
// 0; `now` is seconds since 1970-01-01 UTC.
bool CheckManifestGuards(const Manifest& manifest, std::uint64_t accepted_serial, std::int64_t now,
                         Message& error);

std::int64_t UnixTimeNow();

}  // namespace brisal

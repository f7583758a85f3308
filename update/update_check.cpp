#include "update/update_check.h"

#include <optional>
#include <string>
#include <utility>

#include "client_files/manifest.h"
#include "client_files/sha256.h"
#include "core/files.h"
#include "core/install_tree.h"
#include "core/log.h"
#include "net/http_client.h"
#include "update/folder_cleanup.h"
#include "update/folder_comparison.h"
#include "update/manifest_trust.h"

namespace brisal {

namespace {

// What one run of the check step was asked to be.
struct CheckRun {
  FolderLock& lock;
  bool verify_all;
  bool quiet;               // the periodic re-check: most failures change nothing
  UpdatePhase start_phase;  // what the window showed when the check began
};

struct ManifestReply {
  bool opened = false;  // false: base_url is not a URL
  HttpResult result;
  std::string body;
};

StepOutcome Ended(StepResult result, Message message = {}) {
  return StepOutcome{result, std::move(message)};
}

StepOutcome Cancelled(LauncherState& state, const CheckRun& run) {
  if (!run.quiet) SetPhase(state, state.board.settled_phase.load());
  return Ended(StepResult::kCancelled);
}

ManifestReply FetchManifestFrom(LauncherState& state, const CheckRun& run, HttpClient& client,
                                const std::string& base_url) REQUIRES(state.plan.job_lock) {
  ManifestReply reply;
  reply.opened = client.Open(base_url);
  if (!reply.opened) return reply;
  HttpLimits limits;
  limits.deadline = kManifestDeadline;
  client.SetLimits(limits);
  client.SetAcceptCompressed(true);
  std::string headers = "Cache-Control: no-cache\r\n";
  if (state.plan.have_manifest && !run.verify_all && !state.plan.manifest_etag.empty()) {
    headers += "If-None-Match: " + state.plan.manifest_etag + "\r\n";
  }
  std::string& body = reply.body;
  reply.result = client.Get(
      state.plan.live.manifest, headers, nullptr,
      [&body](const char* data, std::uint32_t length) {
        body.append(data, length);
        return body.size() < kManifestBodyCap;
      },
      &state.jobs.cancel);
  return reply;
}

// The manifest from base_url. With a key, the signature makes the source irrelevant, so
// a mirror stands in when base_url fails; `client` stays open on the source that
// answered, for the signature beside it.
ManifestReply FetchManifest(LauncherState& state, const CheckRun& run, HttpClient& client)
    REQUIRES(state.plan.job_lock) {
  ManifestReply reply = FetchManifestFrom(state, run, client, state.plan.live.base_url);
  if (state.plan.live.manifest_keys.empty() || state.plan.live.config_unusable) return reply;
  for (const std::string& mirror : state.plan.live.mirrors) {
    const bool answered = reply.opened && reply.result.error == 0 &&
                          (reply.result.status == 200 || reply.result.status == 304);
    if (answered || state.jobs.cancel.load()) break;
    Log("manifiesto: sin respuesta válida (HTTP %u, error %u); se prueba %s",
        reply.result.status, reply.result.error, mirror.c_str());
    reply = FetchManifestFrom(state, run, client, mirror);
  }
  return reply;
}

// Whether the manifest request found the server failing, rather than answering (even
// with a refusal such as 404): the periodic re-check backs off only from the former.
bool ServerFailed(const HttpResult& result) {
  return result.error != 0 || result.status == 0 || result.status >= 500 || result.status == 429;
}

// The server could not be reached or gave no manifest. An installed client stays
// playable offline; a quiet re-check only speaks up where it would not hide a more
// important phase.
StepOutcome Unreachable(LauncherState& state, const CheckRun& run, const ManifestReply& reply,
                        bool installed_before) REQUIRES(state.plan.job_lock) {
  Message message;
  if (!reply.opened) {
    message = Message(MessageCode::kBadBaseUrl);
  } else if (reply.result.status == 0 || reply.result.status == 200) {
    message = Message(MessageCode::kNetworkError, {}, reply.result.error);
  } else {
    message =
        Message(MessageCode::kServerAnsweredHttp, state.plan.live.manifest, reply.result.status);
  }
  Log("manifiesto: %s", Sentence(message).c_str());
  if (installed_before) {
    if (!(run.quiet && run.start_phase != UpdatePhase::kUpToDate &&
          run.start_phase != UpdatePhase::kOffline)) {
      SetPhase(state, UpdatePhase::kOffline, Wrap(MessageCode::kOffline, message));
    }
  } else if (!run.quiet) {
    SetPhase(state, UpdatePhase::kFailed, message);
  }
  return Ended(StepResult::kFailed, std::move(message));
}

// A manifest the operator did not sign is refused like a malformed one: nothing is
// downloaded or deleted, and the installed client stays playable. A quiet re-check
// keeps it to the log unless `always_shown`.
StepOutcome Refused(LauncherState& state, const CheckRun& run, const char* what, Message error,
                    bool always_shown = false) {
  Log("%s: %s", what, Sentence(error).c_str());
  if (always_shown || !(run.quiet && run.start_phase != UpdatePhase::kStarting)) {
    SetPhase(state, UpdatePhase::kFailed, error);
  }
  return Ended(StepResult::kFailed, std::move(error));
}

// Takes a fresh manifest into the plan once its signature, form, serial and expiry
// hold. Nothing when it was taken.
std::optional<StepOutcome> TakeFreshManifest(LauncherState& state, const CheckRun& run,
                                             HttpClient& client, const ManifestReply& reply)
    REQUIRES(state.plan.job_lock) {
  Manifest parsed;
  Message error;
  // Before the signature: with config.json unusable, its keys are unknown.
  if (state.plan.live.config_unusable) {
    return Refused(state, run, "manifiesto rechazado", Message(MessageCode::kConfigUnusable));
  }
  if (!state.plan.live.manifest_keys.empty() &&
      !VerifyManifestSignature(client, state.plan.live.manifest, state.plan.live.manifest_keys,
                               reply.body, state.jobs.cancel, error)) {
    // No reason: cancelled while fetching the signature.
    if (error.empty()) return Cancelled(state, run);
    return Refused(state, run, "manifiesto rechazado", std::move(error));
  }
  if (!ParseManifest(reply.body, parsed, error)) {
    return Refused(state, run, "manifiesto invalido", std::move(error));
  }
  // Only the serial's rule reads the digest: an unsigned manifest, up to its cap of
  // megabytes, is not hashed on every check.
  std::string sha256 =
      state.plan.live.manifest_keys.empty() ? std::string() : Sha256Hex(reply.body);
  if (!ManifestTrusted(state, parsed, sha256, error)) {
    return Refused(state, run, "manifiesto rechazado", std::move(error));
  }
  state.plan.manifest = std::move(parsed);
  state.plan.manifest_sha256 = std::move(sha256);
  state.plan.manifest_etag = reply.result.etag;
  state.plan.have_manifest = true;
  return std::nullopt;
}

// A 304 reuses the manifest kept from before, if it still holds: it may have expired,
// or another engine may have accepted a newer one for this folder, since it was taken.
std::optional<StepOutcome> KeepManifest(LauncherState& state, const CheckRun& run)
    REQUIRES(state.plan.job_lock) {
  Message error;
  if (ManifestTrusted(state, state.plan.manifest, state.plan.manifest_sha256, error)) {
    return std::nullopt;
  }
  // Forgotten, so that the next check fetches it whole, and no update acts on its plan.
  state.plan.have_manifest = false;
  state.plan.manifest_etag.clear();
  state.plan.ready = false;
  // Even a quiet re-check says so: the window must not go on calling the client current.
  return Refused(state, run, "manifiesto rechazado", std::move(error), /*always_shown=*/true);
}

UpdatePhase PhaseFor(const Comparison& comparison) {
  if (comparison.intact == 0) return UpdatePhase::kNotInstalled;
  if (comparison.download.empty() && comparison.remove.empty()) return UpdatePhase::kUpToDate;
  return UpdatePhase::kUpdateAvailable;
}

// Makes the comparison the plan and settles the phase.
StepOutcome PublishPlan(LauncherState& state, const CheckRun& run, Comparison& comparison)
    REQUIRES(state.plan.job_lock) {
  const bool serial_raised = RecordAccepted(state);
  const UpdatePhase phase = PhaseFor(comparison);
  state.progress.update_files.store(static_cast<std::uint32_t>(comparison.download.size()));
  state.progress.update_bytes.store(comparison.bytes);
  Log("comprobacion: %u archivos en el manifiesto, %zu por descargar (%llu bytes), %zu por "
      "borrar -> fase %d",
      static_cast<unsigned>(state.plan.manifest.files.size()), comparison.download.size(),
      static_cast<unsigned long long>(comparison.bytes), comparison.remove.size(),
      static_cast<int>(phase));
  state.plan.to_download = std::move(comparison.download);
  state.plan.to_delete = std::move(comparison.remove);
  state.plan.ready = true;

  if (comparison.rehashed || serial_raised) state.cache.Save(state.plan.live.install_dir);
  if (phase == UpdatePhase::kUpToDate) {
    state.progress.bytes_total.store(0);
    state.progress.bytes_done.store(0);
    // Never without the folder's lock: another engine may be filling them.
    if (run.lock.held())
      RemoveOrphanPartials(state.plan.manifest, InstallTree(state.plan.live.install_dir));
  }
  SetPhase(state, phase);
  return Ended(phase == UpdatePhase::kUpToDate ? StepResult::kUpToDate : StepResult::kPlanReady);
}

}  // namespace

bool LockInstallFolder(LauncherState& state, FolderLock& lock, bool quiet) {
  const std::string& folder = state.plan.live.install_dir;
  if (lock.Acquire(folder) != FolderLock::Result::kBusy) return true;
  Log("carpeta ocupada por otro proceso del launcher: %s", folder.c_str());
  if (!quiet) SetPhase(state, UpdatePhase::kFailed, Message(MessageCode::kFolderBusy));
  return false;
}

StepOutcome CheckStep(LauncherState& state, FolderLock& lock, EngineAction action) {
  const CheckRun run{lock, action == EngineAction::kVerify, action == EngineAction::kQuietRecheck,
                     CurrentPhase(state)};
  if (!run.quiet)
    SetPhase(state, run.verify_all ? UpdatePhase::kVerifying : UpdatePhase::kChecking);
  if (!lock.held() && IsDirectory(state.plan.live.install_dir) &&
      !LockInstallFolder(state, lock, run.quiet)) {
    return Ended(StepResult::kFailed, Message(MessageCode::kFolderBusy));
  }
  state.progress.files_total.store(0);
  state.progress.files_done.store(0);
  state.cache.Load(state.plan.live.install_dir);
  const bool installed_before = state.cache.Count() > 0;

  HttpClient client;
  ManifestReply reply = FetchManifest(state, run, client);
  if (state.jobs.cancel.load()) return Cancelled(state, run);
  if (reply.opened) RecordServerAnswer(state, ServerFailed(reply.result));
  const bool fresh = reply.opened && reply.result.status == 200 && reply.result.error == 0;
  const bool not_modified = reply.opened && reply.result.status == 304 && state.plan.have_manifest;
  if (!fresh && !not_modified) return Unreachable(state, run, reply, installed_before);
  if (auto refused =
          fresh ? TakeFreshManifest(state, run, client, reply) : KeepManifest(state, run)) {
    return *std::move(refused);
  }
  if (not_modified && run.quiet) return Ended(StepResult::kUnchanged);
  reply = {};

  Comparison comparison;
  const FolderScan scan{state.plan.manifest, state.plan.live.install_dir, state.cache,
                        state.progress,      state.jobs.cancel,           run.verify_all};
  if (!CompareWithFolder(scan, comparison)) return Cancelled(state, run);
  return PublishPlan(state, run, comparison);
}

}  // namespace brisal

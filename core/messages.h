// What the engine has to tell the player, as a code with its subject. The engine
// never builds a sentence: it returns a Message, and one renderer per language
// (messages_es.cpp today) turns it into the words the player reads. A change of
// wording, or a second language, touches that file alone.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace brisal {

enum class MessageCode : std::uint16_t {
  kNone = 0,
  // A failure that escaped every handler; `subject` is what the exception said.
  kInternalError,
  kInternalUnexpected,
  kCannotStartTask,
  kCannotStartDownload,

  // Network: `number` is the WinHTTP-style error number both backends report.
  kNetworkError,
  // `number` is the HTTP status, `subject` what was asked for.
  kServerAnsweredHttp,

  // Configuration and install folder.
  kBadBaseUrl,
  kFolderBusy,
  kCannotCreateInstallFolder,

  // Manifest and its signature.
  kSignatureFetchFailed,  // number: network error
  kSignatureMissing,      // number: HTTP status, subject: the signature's path
  kSignatureInvalid,
  kManifestRolledBack,
  kManifestExpired,
  kManifestGuardsMalformed,
  kManifestKeyInvalid,  // manifest_key in config.json is not a public key
  kManifestNoExpiry,
  kManifestSerialReused,  // the accepted serial, on other bytes than those accepted
  kConfigUnusable,        // config.json exists but could not be used: nothing is trusted

  // Offline: the installed client stays playable; `causes` holds why.
  kOffline,

  // Downloads: `subject` is the manifest path.
  kThroughLink,
  kFolderInTheWay,
  kCannotWrite,
  kCannotWriteDiskFull,
  kHashInitFailed,
  kDownloadHttpStatus,    // number: HTTP status, other: the server's Retry-After in s (0: none)
  kDownloadNetworkError,  // number: network error
  kServerFileTooLarge,
  kDownloadIncomplete,
  kHashFailed,
  kHashMismatch,
  kChangedOnDisk,
  kCannotReplace,
  kNotEnoughSpace,  // number: bytes needed, other: bytes free

  // Codes of the other subsystems follow.

  // Text from outside set in as it came (what the system or a library said, a value
  // the operator typed); it is the cause of the message that explains it.
  kVerbatim,
  kSystemError,  // number: the system's error number

  // The status line while the launcher works or waits for the player.
  kStatusChecking,
  kStatusVerifying,        // number: files checked, other: files in all
  kStatusNotInstalled,     // number: files to download, other: their bytes
  kStatusUpdateAvailable,  // number: files to download, other: their bytes
  kStatusCleanupOnly,      // an update that only removes obsolete files
  kStatusDownloading,      // no file named
  kStatusDownloadingFile,  // subject: the manifest path
  // Old versions of the files spare part of the download. subject: the manifest path
  // being fetched (may be empty), number: the bytes the update fetches in all.
  kStatusDownloadingSpared,
  kStatusUpToDate,

  // config.json, as read at start-up; the defaults stand in for what it lacks.
  kConfigMalformed,
  kConfigUnreadable,          // exists, but cannot be read or is far too large
  kConfigManifestKeyInvalid,  // the sentence of kManifestKeyInvalid, as a notice

  // The manifest as parsed: `subject` is an entry's path as the server wrote it.
  kManifestInvalid,
  kManifestMalformedEntry,
  kManifestUnsafePath,
  kManifestBadHash,
  kManifestEmpty,

  // Starting the game client.
  kClientMissing,      // subject: the renderer's exe as configured
  kClientStartFailed,  // number: the system's error number
  kClientThroughLink,  // subject: the renderer's exe as configured

  // The operator's signing key and brisal-cli.
  kPrivateKeyNotP256,
  kPrivateKeyExists,
  kCannotGenerateKey,
  kCannotSignManifest,
  kCliUsage,
  kCliMissingValue,   // subject: the option
  kCliUnknownOption,  // subject: the option
  kCliBadValue,       // subject: the option; cause: the value
  kCliSignNeedsOutput,
  kCliGuardsNeedSign,
  kCliSignNeedsExpires,
  kCliCannotReadFolder,       // subject: the folder; cause: why
  kCliPathNotAllowed,         // subject: the path below the folder
  kCliCannotRead,             // subject: a file
  kCliCannotWrite,            // subject: a file
  kCliCannotReadPrivateKey,   // subject: the key's file
  kCliCannotWritePrivateKey,  // subject: the key's file; cause: why
  kCliSignedWith,             // subject: the public key in base64
  kCliPrivateKeyWritten,      // subject: the key's file

  // The launcher's own update (launcher.json beside the manifest).
  kLauncherReleaseFetchFailed,  // number: network error
  kLauncherReleaseHttp,         // subject: what was asked for; number: HTTP status
  kLauncherReleaseInvalid,      // launcher.json is not what brisal-cli publish-launcher writes
  kLauncherReleaseNoPlatform,   // subject: this build's platform name
  kLauncherReleaseOlder,        // subject: the published version; cause: the running one
  kLauncherUpToDate,            // subject: the running version
  kLauncherUpdateAvailable,     // subject: the published version
  kLauncherUpdateStaged,        // subject: the version waiting for the next start
  kLauncherUpdated,             // subject: the version now in place
  kLauncherByPackage,           // installed by the system's packages: apt updates it
  kLauncherDownloadFailed,      // cause: why
  kLauncherCannotStage,         // subject: the folder the new launcher waits in
  kLauncherSwapFailed,          // subject: the launcher's path; the old one stays
  kLauncherMissing,             // subject: the path where a launcher should be
  kCliPublishNeedsPlatform,
  kCliLauncherPublished,  // subject: the version written

  // Keep last: the wording test walks every code before it.
  kEndOfCodes,
};

struct Message {
  MessageCode code = MessageCode::kNone;
  std::string subject;          // a path, a URL or a name, exactly as it came
  std::uint64_t number = 0;     // an HTTP status, an error number, a size
  std::uint64_t other = 0;      // a second number where the sentence needs one
  std::vector<Message> causes;  // at most one: the message this one wraps

  Message() = default;
  explicit Message(MessageCode c, std::string s = {}, std::uint64_t n = 0, std::uint64_t o = 0)
      : code(c), subject(std::move(s)), number(n), other(o) {}

  bool empty() const { return code == MessageCode::kNone; }
  friend bool operator==(const Message&, const Message&) = default;
};

// `message` wrapped by `code`: the sentence of `code` names the sentence of `cause`.
Message Wrap(MessageCode code, Message cause);
// The same, for a sentence that also names its subject.
Message Wrap(MessageCode code, std::string subject, Message cause);

// brisal-cli's live progress line: bytes, speed, files and the current file while
// downloading; files alone while checking or verifying.
struct ProgressFigures {
  bool downloading = false;
  std::uint64_t bytes_done = 0;
  std::uint64_t bytes_total = 0;
  std::uint64_t bytes_per_second = 0;
  std::uint32_t files_done = 0;
  std::uint32_t files_total = 0;
  std::string path;  // from outside: made safe here
};
std::string ProgressSentence(const ProgressFigures& figures);

// The player's sentence for `message`: Spanish, exactly as the launcher shows it.
// A subject is set in as the code's sentence always set it (a URL made safe, a path
// as it is); the status line makes the whole sentence safe before it is shown.
std::string Sentence(const Message& message);

}  // namespace brisal

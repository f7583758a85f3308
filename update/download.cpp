#include "update/download.h"

#include <chrono>
#include <thread>
#include <vector>

#include "core/files.h"
#include "core/paths.h"
#include "net/http_client.h"
#include "shared_state/launcher_state.h"
#include "client_files/sha256.h"

namespace brisal {

namespace {

constexpr std::size_t kRehashBlock = 262144;
constexpr int kReplaceTries = 10;
constexpr auto kReplacePause = std::chrono::milliseconds(400);

// Re-reads the first `offset` bytes of the partial file into the hasher. False when
// the prefix cannot be read back whole.
bool HashPrefix(File& file, std::uint64_t offset, Sha256& hasher) {
  std::vector<char> buffer(kRehashBlock);
  std::uint64_t remaining = offset;
  while (remaining > 0) {
    std::size_t want =
        remaining < kRehashBlock ? static_cast<std::size_t>(remaining) : kRehashBlock;
    std::int64_t got = file.Read(buffer.data(), want);
    if (got <= 0) return false;
    hasher.Update(buffer.data(), static_cast<std::size_t>(got));
    remaining -= static_cast<std::uint64_t>(got);
  }
  return true;
}

// Empties the partial file and restarts the hash from nothing.
bool StartOver(File& file, Sha256& hasher) {
  hasher.Init();
  return file.Seek(0) && file.TruncateHere();
}

}  // namespace

EntryPaths PathsForEntry(const LauncherState& state, const ManifestEntry& entry) {
  EntryPaths paths;
  paths.target = JoinPath(state.live.install_dir, ManifestPathToNative(entry.path));
  paths.partial = paths.target + kPartialSuffix;
  return paths;
}

bool DownloadFile(LauncherState& state, HttpClient& client, const ManifestEntry& entry,
                  const std::string& partial_path, const std::string& target_path, WorkerSlot& slot,
                  std::uint64_t& attempt_bytes, std::string& error) {
  // 1. Resume from whatever a previous attempt or run left behind.
  std::uint64_t offset = 0;
  FileInfo partial_info;
  if (GetFileInfo(partial_path, partial_info) && !partial_info.is_directory &&
      partial_info.size <= entry.size) {
    offset = partial_info.size;
  }

  File file;
  if (!file.Open(partial_path, File::Mode::kReadWrite)) {
    error = "No se pudo escribir " + entry.path + " (¿sin permisos o disco lleno?)";
    return false;
  }
  Sha256 hasher;
  hasher.Init();
  if (!hasher.ok()) {
    error = "No se pudo inicializar SHA-256";
    return false;
  }

  if (offset > 0) {
    if (!HashPrefix(file, offset, hasher)) {
      StartOver(file, hasher);
      offset = 0;
    }
  } else {
    StartOver(file, hasher);  // a stale partial file longer than the entry included
  }

  state.bytes_done.fetch_add(offset);
  attempt_bytes += offset;
  slot.file_done.store(offset);

  std::uint64_t written = 0;
  bool too_large = false;
  bool write_failed = false;
  HttpResult result;
  if (offset < entry.size) {
    std::string headers;
    if (offset > 0) headers = "Range: bytes=" + std::to_string(offset) + "-\r\n";
    auto on_response = [&](const HttpResult& response) {
      if (response.status == 206) return true;
      if (response.status != 200) return false;
      if (offset > 0) {
        // The server ignored the range and sends the whole file.
        state.bytes_done.fetch_sub(offset);
        attempt_bytes -= offset;
        StartOver(file, hasher);
        offset = 0;
        slot.file_done.store(0);
      }
      return true;
    };
    auto on_data = [&](const char* data, std::uint32_t length) {
      if (offset + written + length > entry.size) {
        too_large = true;
        return false;
      }
      if (file.Write(data, length) != static_cast<std::int64_t>(length)) {
        write_failed = true;
        return false;
      }
      hasher.Update(data, length);
      written += length;
      state.bytes_done.fetch_add(length);
      attempt_bytes += length;
      slot.file_done.store(offset + written);
      return true;
    };
    result = client.Get(state.live.files_path + entry.path, headers, on_response, on_data,
                        &state.cancel);

    if (state.cancel.load()) return false;
    if (result.status != 0 && result.status != 200 && result.status != 206) {
      if (result.status == 416) {
        file.Close();
        DeleteFileAt(partial_path);
      }
      error = "HTTP " + std::to_string(result.status) + " al descargar " + entry.path;
      return false;
    }
    if (write_failed) {
      error = "No se pudo escribir " + entry.path + " (¿disco lleno?)";
      return false;
    }
    if (too_large) {
      file.Close();
      DeleteFileAt(partial_path);
      error =
          "El archivo del servidor es más grande de lo indicado en el manifiesto: " + entry.path;
      return false;
    }
    if (result.error != 0) {
      error = HttpErrorText(result.error) + " (" + entry.path + ")";
      return false;
    }
  }

  if (offset + written != entry.size) {
    error = "Descarga incompleta: " + entry.path;
    return false;
  }

  const std::string hex = hasher.FinishHex();
  if (hex != entry.sha256) {
    file.Close();
    DeleteFileAt(partial_path);
    error =
        "El archivo no coincide con el manifiesto (¿cambió en el servidor durante la "
        "descarga?): " +
        entry.path;
    return false;
  }
  // The bytes must be on disk before the file is moved into place and recorded: the
  // state file vouches for it from then on, and a power cut must not leave a
  // zero-filled file that every later check trusts.
  if (!file.Sync()) {
    error = "No se pudo escribir " + entry.path + " (¿disco lleno?)";
    return false;
  }
  file.Close();

  ClearReadOnly(target_path);
  bool replaced = false;
  for (int attempt = 0; attempt < kReplaceTries; ++attempt) {
    ReplaceOutcome outcome = ReplaceFileAt(partial_path, target_path);
    if (outcome == ReplaceOutcome::kDone) {
      replaced = true;
      break;
    }
    if (outcome == ReplaceOutcome::kFailed) break;
    if (state.cancel.load()) return false;
    std::this_thread::sleep_for(kReplacePause);
  }
  if (!replaced) {
    error = "No se pudo reemplazar " + entry.path +
            ". Si el juego está abierto, ciérralo e inténtalo de nuevo.";
    return false;
  }

  FileInfo target_info;
  if (GetFileInfo(target_path, target_info) && !target_info.is_directory) {
    std::lock_guard<std::mutex> guard(state.cache.lock());
    state.cache.StoreLocked(entry.path,
                            FileState{target_info.size, target_info.mtime, entry.sha256});
  }
  return true;
}

}  // namespace brisal

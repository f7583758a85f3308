#include "update/download.h"

#include <chrono>
#include <thread>
#include <vector>

#include "core/files.h"
#include "core/install_tree.h"
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

EntryPaths PathsForEntry(const ManifestEntry& entry) {
  return EntryPaths{entry.path, entry.path + kPartialSuffix};
}

std::string ThroughLinkMessage(const std::string& path) {
  return "No se instaló " + path +
         ": su ruta pasa por un enlace o una unión dentro de la carpeta de instalación";
}

bool DownloadFile(LauncherState& state, HttpClient& client, const ManifestEntry& entry,
                  const std::string& partial_path, const std::string& target_path, WorkerSlot& slot,
                  std::uint64_t& attempt_bytes, std::string& error) {
  const InstallTree tree(state.live.install_dir);
  File file;
  const TreeResult opened = tree.OpenPartial(partial_path, file);
  if (opened == TreeResult::kLink) {
    error = ThroughLinkMessage(entry.path);
    return false;
  }
  if (opened != TreeResult::kDone) {
    error = "No se pudo escribir " + entry.path + " (¿sin permisos o disco lleno?)";
    return false;
  }
  // Resume from whatever a previous attempt or run left behind (a stale partial file
  // longer than the entry is started over).
  std::uint64_t offset = 0;
  if (!file.Size(offset) || offset > entry.size) offset = 0;
  Sha256 hasher;
  hasher.Init();
  if (!hasher.ok()) {
    error = "No se pudo inicializar SHA-256";
    return false;
  }

  // A file that cannot be cut back could keep stale bytes past what is written next.
  if (offset == 0 || !HashPrefix(file, offset, hasher)) {
    offset = 0;
    if (!StartOver(file, hasher)) {
      error = "No se pudo escribir " + entry.path + " (¿sin permisos o disco lleno?)";
      return false;
    }
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
        offset = 0;
        slot.file_done.store(0);
        if (!StartOver(file, hasher)) {
          write_failed = true;
          return false;
        }
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
        tree.RemoveFile(partial_path);
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
      tree.RemoveFile(partial_path);
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

  // A provider that failed midway leaves no digest at all (FinishHex then gives 64
  // zeros): that is no verdict on the file, which is kept for the next attempt.
  const bool hashed = hasher.ok();
  const std::string hex = hasher.FinishHex();
  if (!hashed || hex.find_first_not_of('0') == std::string::npos) {
    error = "No se pudo calcular el SHA-256 de " + entry.path;
    return false;
  }
  if (hex != entry.sha256) {
    file.Close();
    tree.RemoveFile(partial_path);
    error =
        "El archivo no coincide con el manifiesto (¿cambió en el servidor durante la "
        "descarga?): " +
        entry.path;
    return false;
  }
  // The bytes must be on disk before the file is moved into place and recorded: the
  // state file vouches for it from then on, and a power cut must not leave a
  // zero-filled file that every later check trusts.
  FileId verified;
  std::uint64_t size_now = 0;
  if (!file.Sync() || !file.Identity(verified) || !file.Size(size_now) ||
      size_now != entry.size) {
    error = "No se pudo escribir " + entry.path + " (¿disco lleno?)";
    return false;
  }
  file.Close();

  // What is moved into place must be the very file whose bytes were hashed, not
  // something put under its name since.
  const std::string changed = "El archivo " + entry.path + " cambió en el disco durante la descarga";
  bool replaced = false;
  for (int attempt = 0; attempt < kReplaceTries; ++attempt) {
    TreeEntry before;
    if (tree.Stat(partial_path, before) != TreeResult::kDone || before.is_link ||
        before.id != verified) {
      error = changed;
      return false;
    }
    const TreeResult outcome = tree.Replace(partial_path, target_path);
    if (outcome == TreeResult::kDone) {
      replaced = true;
      break;
    }
    if (outcome == TreeResult::kLink) {
      error = ThroughLinkMessage(entry.path);
      return false;
    }
    if (outcome != TreeResult::kRetryable) break;
    if (state.cancel.load()) return false;
    std::this_thread::sleep_for(kReplacePause);
  }
  if (!replaced) {
    error = "No se pudo reemplazar " + entry.path +
            ". Si el juego está abierto, ciérralo e inténtalo de nuevo.";
    return false;
  }

  TreeEntry placed;
  if (tree.Stat(target_path, placed) != TreeResult::kDone || placed.id != verified ||
      !placed.is_regular || placed.size != entry.size) {
    error = changed;
    return false;
  }
  std::lock_guard<std::mutex> guard(state.cache.lock());
  state.cache.StoreLocked(entry.path, FileState{placed.size, placed.mtime, entry.sha256});
  return true;
}

}  // namespace brisal

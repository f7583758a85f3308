// SHA-256 over the platform's provider (OpenSSL EVP on Linux, BCrypt on Windows).
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace brisal {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // (Re)starts a computation. Check ok() afterwards.
  void Init();
  bool ok() const;
  // Feeds bytes; ignored when !ok() or the chunk is empty.
  void Update(const void* data, std::size_t length);
  // Finishes into 64 lower-case hex characters; 64 "0" when !ok(). Re-Init to reuse.
  std::string FinishHex();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Hashes a whole file in 256 KiB blocks, testing `cancel` (may be null) before each
// read. False when the file cannot be opened or read, or on cancel; `hex_out` is then
// untouched.
bool HashFile(const std::string& path, std::string& hex_out, const std::atomic<bool>* cancel);

// The digest of bytes in memory, in hex; empty when the provider failed.
std::string Sha256Hex(std::string_view bytes);

}  // namespace brisal

// BCrypt backend of sha256.h.
#include <windows.h>
// bcrypt.h needs the types windows.h defines.
#include <bcrypt.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <memory>
#include <type_traits>
#include <vector>

#include "client_files/sha256.h"
#include "client_files/sha256_hex.h"
#include "core/free_with.h"

namespace brisal {

namespace {

// The process-wide algorithm provider: opened on first use and never closed, so no
// computation pays for opening it. Null for the rest of the process if opening fails;
// it is not retried. Function-local static initialisation is thread-safe: concurrent
// first callers wait and all see the same handle.
BCRYPT_ALG_HANDLE Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      handle = nullptr;
    }
    return handle;
  }();
  return provider;
}

using HashHandle = OwningPtr<std::remove_pointer_t<BCRYPT_HASH_HANDLE>, BCryptDestroyHash>;

}  // namespace

struct Sha256::Impl {
  // The hash object lives inside this buffer, so the buffer is declared first and
  // therefore destroyed after the hash.
  std::vector<UCHAR> object_buffer;
  HashHandle hash;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {}
Sha256::~Sha256() = default;

void Sha256::Init() {
  impl_->hash.reset();
  BCRYPT_ALG_HANDLE provider = Provider();
  if (provider == nullptr) return;
  DWORD object_length = 0;
  ULONG written = 0;
  if (!BCRYPT_SUCCESS(BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH,
                                        reinterpret_cast<PUCHAR>(&object_length),
                                        sizeof object_length, &written, 0))) {
    return;
  }
  impl_->object_buffer.assign(object_length, 0);
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, impl_->object_buffer.data(), object_length,
                                       nullptr, 0, 0))) {
    return;
  }
  impl_->hash.reset(hash);
}

bool Sha256::ok() const {
  return impl_->hash != nullptr;
}

void Sha256::Update(const void* data, std::size_t length) {
  if (!impl_->hash) return;
  // BCryptHashData takes a ULONG length and a non-const pointer it only reads.
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  while (length > 0) {
    ULONG chunk =
        static_cast<ULONG>(std::min<std::size_t>(length, std::numeric_limits<ULONG>::max()));
    // A failed update would make any digest a lie; ok() turns false so callers see it.
    if (!BCRYPT_SUCCESS(BCryptHashData(impl_->hash.get(), bytes, chunk, 0))) {
      impl_->hash.reset();
      return;
    }
    bytes += chunk;
    length -= chunk;
  }
}

std::string Sha256::FinishHex() {
  unsigned char digest[kSha256DigestBytes] = {};
  if (impl_->hash) {
    if (!BCRYPT_SUCCESS(BCryptFinishHash(impl_->hash.get(), digest, sizeof digest, 0))) {
      std::fill(std::begin(digest), std::end(digest), static_cast<unsigned char>(0));
    }
    // A finished hash cannot be fed again; dropping it makes ok() say so.
    impl_->hash.reset();
  }
  return DigestToHex(digest);
}

}  // namespace brisal

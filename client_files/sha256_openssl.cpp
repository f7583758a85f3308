// OpenSSL backend of sha256.h. EVP picks the CPU's SHA extensions when present.
#include <openssl/evp.h>

#include <algorithm>
#include <iterator>
#include <memory>

#include "client_files/sha256.h"
#include "client_files/sha256_hex.h"
#include "core/free_with.h"

namespace brisal {

namespace {

// The process-wide hash provider: fetched once and never freed, so every computation
// skips OpenSSL's per-call algorithm lookup. Null for the rest of the process if the
// fetch fails. Function-local static initialisation is thread-safe.
const EVP_MD* Provider() {
  static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  return md;
}

}  // namespace

struct Sha256::Impl {
  OwningPtr<EVP_MD_CTX, EVP_MD_CTX_free> context;
  // True between a successful Init and FinishHex (or a failed Update).
  bool running = false;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {}
Sha256::~Sha256() = default;

void Sha256::Init() {
  impl_->running = false;
  const EVP_MD* md = Provider();
  if (md == nullptr) return;
  if (!impl_->context) {
    impl_->context.reset(EVP_MD_CTX_new());
    if (!impl_->context) return;
  }
  impl_->running = EVP_DigestInit_ex2(impl_->context.get(), md, nullptr) == 1;
}

bool Sha256::ok() const {
  return impl_->running;
}

void Sha256::Update(const void* data, std::size_t length) {
  if (!impl_->running || length == 0) return;
  // A failed update would make any digest a lie; ok() turns false so callers see it.
  if (EVP_DigestUpdate(impl_->context.get(), data, length) != 1) impl_->running = false;
}

std::string Sha256::FinishHex() {
  unsigned char digest[kSha256DigestBytes] = {};
  if (impl_->running) {
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(impl_->context.get(), digest, &length) != 1 ||
        length != kSha256DigestBytes) {
      std::fill(std::begin(digest), std::end(digest), static_cast<unsigned char>(0));
    }
    impl_->running = false;
  }
  return DigestToHex(digest);
}

}  // namespace brisal

// ECDSA P-256 over SHA-256 with the platform's crypto (OpenSSL EVP on Linux, BCrypt on
// Windows): the launcher verifies the manifest's signature with the operator's public
// key; brisal-cli makes the key pair and the signatures. Both backends take and give the
// same bytes, so a key or signature made on one platform works on the other:
//   public key: the uncompressed point, 65 bytes: 0x04, X, Y (big-endian, 32 bytes each);
//   signature:  64 bytes: r then s (big-endian, 32 bytes each);
//   private key: PEM "PRIVATE KEY" (unencrypted PKCS#8), as `openssl genpkey` writes it.
#pragma once

#include <cstddef>
#include <string>

#include "core/messages.h"

namespace brisal {

inline constexpr std::size_t kPublicKeyBytes = 65;
inline constexpr std::size_t kSignatureBytes = 64;

enum class SignatureCheck {
  kValid,
  kBadKey,       // not an uncompressed point of P-256 (a point off the curve may
                 // instead give kBadSignature where the platform does not check it)
  kBadSignature  // wrong length, not made by this key, or not over these bytes
};

SignatureCheck VerifySignature(const std::string& public_key, const std::string& message,
                               const std::string& signature);

// Operator's side. Each returns false with what went wrong in `error`.
// A new key pair: the private key as PEM, the public key as above.
bool GenerateSigningKey(std::string& private_pem, std::string& public_key, Message& error);
// Signs `message` with a PEM private key of P-256; `public_key` receives its public half
// so the caller can show which key signed.
bool SignMessage(const std::string& private_pem, const std::string& message, std::string& signature,
                 std::string& public_key, Message& error);

}  // namespace brisal

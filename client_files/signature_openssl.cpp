// OpenSSL backend of signature.h.
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

#include "client_files/signature.h"
#include "core/free_with.h"

namespace brisal {

namespace {

// A SubjectPublicKeyInfo of P-256 is this fixed prefix (algorithm id-ecPublicKey,
// curve prime256v1, a 66-byte bit string) followed by the 65-byte point, so the point
// converts to and from the form OpenSSL reads without building ASN.1 by hand.
constexpr unsigned char kP256InfoPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};

using PkeyPtr = OwningPtr<EVP_PKEY, EVP_PKEY_free>;
using MdCtxPtr = OwningPtr<EVP_MD_CTX, EVP_MD_CTX_free>;
using EcdsaSigPtr = OwningPtr<ECDSA_SIG, ECDSA_SIG_free>;
using BioPtr = OwningPtr<BIO, BIO_free_all>;

// OPENSSL_free is a macro (it passes the caller's file and line on), so it has no
// address of its own.
void FreeOpenSslBytes(unsigned char* bytes) {
  OPENSSL_free(bytes);
}
using OpenSslBytes = OwningPtr<unsigned char, FreeOpenSslBytes>;

PkeyPtr PublicKeyFromPoint(const std::string& point) {
  if (point.size() != kPublicKeyBytes || point[0] != 0x04) return nullptr;
  std::string info(reinterpret_cast<const char*>(kP256InfoPrefix), sizeof kP256InfoPrefix);
  info += point;
  const auto* cursor = reinterpret_cast<const unsigned char*>(info.data());
  // Decoding the point checks that it lies on the curve.
  PkeyPtr key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(info.size())));
  if (key && cursor != reinterpret_cast<const unsigned char*>(info.data()) + info.size()) {
    return nullptr;
  }
  return key;
}

// The 65-byte point of a P-256 key; false for a key of any other kind.
bool PointOfKey(EVP_PKEY* key, std::string& point) {
  unsigned char* der = nullptr;
  const int length = i2d_PUBKEY(key, &der);
  OpenSslBytes owner(der);
  if (length != static_cast<int>(sizeof kP256InfoPrefix + kPublicKeyBytes)) return false;
  if (std::string(reinterpret_cast<const char*>(der), sizeof kP256InfoPrefix) !=
      std::string(reinterpret_cast<const char*>(kP256InfoPrefix), sizeof kP256InfoPrefix)) {
    return false;
  }
  point.assign(reinterpret_cast<const char*>(der) + sizeof kP256InfoPrefix, kPublicKeyBytes);
  return true;
}

// r‖s to the DER SEQUENCE OpenSSL verifies; empty when it cannot be built.
std::string DerFromRawSignature(const std::string& raw) {
  EcdsaSigPtr sig(ECDSA_SIG_new());
  if (!sig) return {};
  const auto* bytes = reinterpret_cast<const unsigned char*>(raw.data());
  BIGNUM* r = BN_bin2bn(bytes, 32, nullptr);
  BIGNUM* s = BN_bin2bn(bytes + 32, 32, nullptr);
  if (r == nullptr || s == nullptr || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return {};
  }
  unsigned char* der = nullptr;
  const int length = i2d_ECDSA_SIG(sig.get(), &der);
  OpenSslBytes owner(der);
  if (length <= 0) return {};
  return std::string(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
}

// The DER SEQUENCE OpenSSL signs into, as r‖s; empty when it is not one.
std::string RawFromDerSignature(const unsigned char* der, std::size_t length) {
  const unsigned char* cursor = der;
  EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(length)));
  if (!sig) return {};
  std::string raw(kSignatureBytes, '\0');
  auto* out = reinterpret_cast<unsigned char*>(raw.data());
  if (BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), out, 32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), out + 32, 32) != 32) {
    return {};
  }
  return raw;
}

}  // namespace

SignatureCheck VerifySignature(const std::string& public_key, const std::string& message,
                               const std::string& signature) {
  PkeyPtr key = PublicKeyFromPoint(public_key);
  if (!key) return SignatureCheck::kBadKey;
  if (signature.size() != kSignatureBytes) return SignatureCheck::kBadSignature;
  const std::string der = DerFromRawSignature(signature);
  MdCtxPtr context(EVP_MD_CTX_new());
  if (der.empty() || !context ||
      EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
    return SignatureCheck::kBadSignature;
  }
  const int verdict = EVP_DigestVerify(
      context.get(), reinterpret_cast<const unsigned char*>(der.data()), der.size(),
      reinterpret_cast<const unsigned char*>(message.data()), message.size());
  return verdict == 1 ? SignatureCheck::kValid : SignatureCheck::kBadSignature;
}

bool GenerateSigningKey(std::string& private_pem, std::string& public_key, Message& error) {
  PkeyPtr key(EVP_EC_gen("P-256"));
  BioPtr out(BIO_new(BIO_s_mem()));
  if (!key || !out || !PointOfKey(key.get(), public_key) ||
      PEM_write_bio_PrivateKey(out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    error = Message(MessageCode::kCannotGenerateKey);
    return false;
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(out.get(), &data);
  private_pem.assign(data, static_cast<std::size_t>(length));
  return true;
}

bool SignMessage(const std::string& private_pem, const std::string& message, std::string& signature,
                 std::string& public_key, Message& error) {
  BioPtr in(BIO_new_mem_buf(private_pem.data(), static_cast<int>(private_pem.size())));
  // No password callback: an encrypted key must not make OpenSSL prompt on the terminal.
  PkeyPtr key(in ? PEM_read_bio_PrivateKey(
                       in.get(), nullptr, [](char*, int, int, void*) { return 0; }, nullptr)
                 : nullptr);
  if (!key || !PointOfKey(key.get(), public_key)) {
    error = Message(MessageCode::kPrivateKeyNotP256);
    return false;
  }
  MdCtxPtr context(EVP_MD_CTX_new());
  std::size_t length = 0;
  if (!context ||
      EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    error = Message(MessageCode::kCannotSignManifest);
    return false;
  }
  std::string der(length, '\0');
  auto* der_bytes = reinterpret_cast<unsigned char*>(der.data());
  if (EVP_DigestSign(context.get(), der_bytes, &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1 ||
      (signature = RawFromDerSignature(der_bytes, length)).empty()) {
    error = Message(MessageCode::kCannotSignManifest);
    return false;
  }
  return true;
}

}  // namespace brisal

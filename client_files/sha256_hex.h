// The one hex form of a digest, shared by the SHA-256 backends.
#pragma once

#include <cstddef>
#include <string>

namespace brisal {

inline constexpr std::size_t kSha256DigestBytes = 32;

// Two lower-case characters per byte, high nibble first.
inline std::string DigestToHex(const unsigned char (&digest)[kSha256DigestBytes]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex(2 * kSha256DigestBytes, '0');
  for (std::size_t i = 0; i < kSha256DigestBytes; ++i) {
    hex[2 * i] = kDigits[digest[i] >> 4];
    hex[2 * i + 1] = kDigits[digest[i] & 0x0f];
  }
  return hex;
}

// Lower-cases a digest written in hex in place; true when it is 64 hex digits.
inline bool NormaliseSha256Hex(std::string& hash) {
  bool valid = hash.size() == 2 * kSha256DigestBytes;
  for (char& c : hash) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    valid = valid && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
  }
  return valid;
}

}  // namespace brisal

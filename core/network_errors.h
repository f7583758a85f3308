// The network error numbers every HTTP backend reports: WinHTTP's own, which the curl
// backend maps its codes onto, so that each failure has one sentence on both platforms.
#pragma once

#include <cstdint>

namespace brisal {

namespace http_error {
inline constexpr std::uint32_t kTimeout = 12002;
inline constexpr std::uint32_t kInternalError = 12004;
inline constexpr std::uint32_t kInvalidUrl = 12005;
inline constexpr std::uint32_t kNameNotResolved = 12007;
inline constexpr std::uint32_t kOperationCancelled = 12017;
inline constexpr std::uint32_t kIncorrectHandleState = 12019;
inline constexpr std::uint32_t kCannotConnect = 12029;
inline constexpr std::uint32_t kConnectionError = 12030;
inline constexpr std::uint32_t kRedirectFailed = 12156;
inline constexpr std::uint32_t kInvalidServerResponse = 12152;
inline constexpr std::uint32_t kSecureCertDateInvalid = 12037;
inline constexpr std::uint32_t kSecureCertCnInvalid = 12038;
inline constexpr std::uint32_t kSecureInvalidCa = 12045;
inline constexpr std::uint32_t kSecureInvalidCert = 12169;
inline constexpr std::uint32_t kSecureFailure = 12175;
}  // namespace http_error

}  // namespace brisal

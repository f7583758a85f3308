#include <windows.h>

#include "core/text.h"

namespace brisal {

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

bool WideNameToUtf8(const std::wstring& name, std::string& out) {
  out.clear();
  if (name.empty()) return true;
  const int length = static_cast<int>(name.size());
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, name.data(), length, nullptr, 0,
                                    nullptr, nullptr);
  if (n <= 0) return false;
  out.resize(static_cast<std::size_t>(n));
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, name.data(), length, out.data(), n,
                             nullptr, nullptr) == n;
}

// NTFS compares names by upper-casing every UTF-16 unit with one fixed table, the
// same ordinal ignore-case comparison the invariant locale's mapping gives.
std::string FoldCase(const std::string& text) {
  std::wstring wide = Utf8ToWide(text);
  if (wide.empty()) return text;
  std::wstring upper(wide.size(), L'\0');
  const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(),
                              static_cast<int>(wide.size()), upper.data(),
                              static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (n <= 0) return text;
  upper.resize(static_cast<std::size_t>(n));
  return WideToUtf8(upper);
}

}  // namespace brisal

// UTF-8 <-> wchar_t (UTF-32 here) without the C library's locale-dependent converters,
// so the result never depends on the user's LANG. Malformed input becomes U+FFFD, as
// the Windows converter does.
#include "core/text.h"

namespace brisal {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void EncodeOne(char32_t cp, std::string& out) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::wstring Utf8ToWide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();)
    out.push_back(static_cast<wchar_t>(DecodeUtf8(text, i)));
  return out;
}

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text)
    EncodeOne(static_cast<char32_t>(c), out);
  return out;
}

bool WideNameToUtf8(const std::wstring& name, std::string& out) {
  out.clear();
  for (wchar_t c : name) {
    const auto cp = static_cast<char32_t>(c);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    EncodeOne(cp, out);
  }
  return true;
}

}  // namespace brisal

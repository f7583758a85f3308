#include "core/text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <utility>
#include <vector>

namespace brisal {

int FormatNarrowV(char* buffer, std::size_t size, const char* format, std::va_list args) {
  return std::vsnprintf(buffer, size, format, args);
}

int FormatNarrow(char* buffer, std::size_t size, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  int n = FormatNarrowV(buffer, size, format, args);
  va_end(args);
  return n;
}

int FormatWide(wchar_t* buffer, std::size_t size, const wchar_t* format, ...) {
  std::va_list args;
  va_start(args, format);
  int n = std::vswprintf(buffer, size, format, args);
  va_end(args);
  // The C library says -1 when the text does not fit, but mingw-w64's C99 printf
  // returns the needed length like snprintf: hold every runtime to one contract.
  if (n < 0 || static_cast<std::size_t>(n) >= size) {
    if (size > 0) buffer[size - 1] = L'\0';
    return -1;
  }
  return n;
}

std::string StringPrintf(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string result;
  if (n < 0) {
    va_end(copy);
    return result;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    result.assign(small, static_cast<std::size_t>(n));
  } else {
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, copy);
    result.assign(big.data(), static_cast<std::size_t>(n));
  }
  va_end(copy);
  return result;
}

std::string FormatSize(std::uint64_t n) {
  char buffer[48];
  if (n < 1024ULL) {
    FormatNarrow(buffer, sizeof buffer, "%llu B", static_cast<unsigned long long>(n));
  } else if (n < 1048576ULL) {
    FormatNarrow(buffer, sizeof buffer, "%.0f KB", static_cast<double>(n) / 1024.0);
  } else if (n < 1073741824ULL) {
    FormatNarrow(buffer, sizeof buffer, "%.1f MB", static_cast<double>(n) / 1048576.0);
  } else {
    FormatNarrow(buffer, sizeof buffer, "%.2f GB", static_cast<double>(n) / 1073741824.0);
  }
  return buffer;
}

bool ParseByteCount(std::string_view text, std::uint64_t& bytes) {
  unsigned shift = 0;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K':
      case 'k':
        shift = 10;
        break;
      case 'M':
      case 'm':
        shift = 20;
        break;
      case 'G':
      case 'g':
        shift = 30;
        break;
      default:
        break;
    }
  }
  if (shift != 0) text.remove_suffix(1);
  std::uint64_t number = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number);
  if (text.empty() || error != std::errc() || stop != end) return false;
  if (number > (UINT64_MAX >> shift)) return false;
  bytes = number << shift;
  return true;
}

namespace {

// What could drive a terminal, break a line or change how the text around it reads
// while showing nothing itself: controls, the direction marks, embeddings, overrides
// and isolates, line and paragraph separators, and the invisible format characters
// (zero-width space, word joiner and invisible operators, the deprecated shaping
// controls, the byte order mark, the Mongolian vowel separator, interlinear
// annotation). The zero-width joiner and non-joiner stay: emoji sequences and Persian
// or Indic words need them.
bool IsUnsafeCodePoint(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x180E || c == 0x200B ||
         c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

}  // namespace

char32_t DecodeUtf8(std::string_view s, std::size_t& i) {
  constexpr char32_t kReplacement = 0xFFFD;
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int length = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, minimum = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + length > s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k < length; ++k) {
    unsigned char next = byte(i + k);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += length;
  return cp;
}

std::string SafeText(std::string_view text, std::size_t max_chars) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
  static constexpr std::string_view kEllipsis = "\xE2\x80\xA6";     // "…"
  std::string out;
  out.reserve(std::min(text.size(), max_chars * 3));
  std::size_t kept_before_last = 0;  // the output's size before the last character
  std::size_t chars = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    if (chars == max_chars) {
      // One character too many: the last one kept gives way to the ellipsis.
      out.resize(kept_before_last);
      out.append(kEllipsis);
      return out;
    }
    const std::size_t from = at;
    const char32_t c = DecodeUtf8(text, at);
    kept_before_last = out.size();
    // U+FFFD also stands for bytes that were not UTF-8: those are never copied.
    if (c == 0xFFFD || IsUnsafeCodePoint(c)) {
      out.append(kReplacement);
    } else {
      out.append(text.substr(from, at - from));
    }
    ++chars;
  }
  return out;
}

}  // namespace brisal

namespace brisal {

namespace {

constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::string EncodeBase64(const std::string& bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (left > 1)
      group |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (left > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
    text.push_back(kBase64Digits[(group >> 18) & 63]);
    text.push_back(kBase64Digits[(group >> 12) & 63]);
    text.push_back(left > 1 ? kBase64Digits[(group >> 6) & 63] : '=');
    text.push_back(left > 2 ? kBase64Digits[group & 63] : '=');
  }
  return text;
}

bool DecodeBase64(const std::string& text, std::string& bytes) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsAsciiSpace(text[begin]))
    ++begin;
  while (end > begin && IsAsciiSpace(text[end - 1]))
    --end;
  const std::size_t length = end - begin;
  if (length % 4 != 0) return false;
  std::string out;
  out.reserve(length / 4 * 3);
  for (std::size_t i = begin; i < end; i += 4) {
    const bool last = i + 4 == end;
    // Padding only at the very end: "x===" can never be produced, "xx==" and "xxx=" can.
    const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=') : 0;
    std::uint32_t group = 0;
    for (int k = 0; k < 4; ++k) {
      const int value = k >= 4 - pad ? 0 : Base64Value(text[i + k]);
      if (value < 0) return false;
      group = group << 6 | static_cast<std::uint32_t>(value);
    }
    out.push_back(static_cast<char>(group >> 16));
    if (pad < 2) out.push_back(static_cast<char>((group >> 8) & 0xff));
    if (pad < 1) out.push_back(static_cast<char>(group & 0xff));
    // Bits below the last full byte must be zero, or two texts would give one value.
    if ((pad == 1 && (group & 0xff) != 0) || (pad == 2 && (group & 0xffff) != 0)) return false;
  }
  bytes = std::move(out);
  return true;
}

}  // namespace brisal

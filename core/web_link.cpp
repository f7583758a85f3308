#include "core/web_link.h"

#include "core/text.h"

namespace brisal {

namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsHex(char c) {
  return IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// A host name ("brisal.example", "127.0.0.1") or "[" IPv6 "]", then ":" and a port.
bool IsSaneAuthority(std::string_view authority) {
  std::string_view host = authority;
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos || close < 3) return false;
    for (char c : authority.substr(1, close - 1)) {
      if (!IsHex(c) && c != ':' && c != '.') return false;
    }
    host = authority.substr(0, close + 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return false;
      port = authority.substr(close + 2);
      if (port.empty()) return false;
    }
  } else {
    const std::size_t colon = authority.find(':');
    if (colon != std::string_view::npos) {
      host = authority.substr(0, colon);
      port = authority.substr(colon + 1);
      if (port.empty()) return false;
    }
    if (host.empty() || host.front() == '.' || host.front() == '-') return false;
    for (char c : host) {
      if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '-' && c != '.') return false;
    }
  }
  if (port.size() > 5) return false;
  for (char c : port) {
    if (!IsAsciiDigit(c)) return false;
  }
  return true;
}

bool IsUnicodeSpace(char32_t c) {
  return c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Anything a shell, a desktop's opener or a page could read as the end of the link or
// as markup, and anything that shows otherwise than it reads.
bool HoldsOnlyLinkCharacters(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const char32_t c = DecodeUtf8(text, at);
    if (c == ' ' || c == '"' || c == '\'' || c == '`' || c == '<' || c == '>' || c == '\\' ||
        IsUnicodeSpace(c)) {
      return false;
    }
  }
  // SafeText replaces every control, direction mark, invisible format character and
  // byte that is not UTF-8; a link it would change is refused.
  return SafeText(text, kMaxWebLinkBytes) == text;
}

}  // namespace

std::optional<std::string> ParseWebLink(std::string_view text) {
  if (text.size() > kMaxWebLinkBytes) return std::nullopt;
  std::size_t scheme_length;
  if (StartsWithNoCase(text, "https://")) {
    scheme_length = 5;
  } else if (StartsWithNoCase(text, "http://")) {
    scheme_length = 4;
  } else {
    return std::nullopt;
  }
  const std::size_t authority_start = scheme_length + 3;
  std::size_t authority_end = text.find_first_of("/?#", authority_start);
  if (authority_end == std::string_view::npos) authority_end = text.size();
  if (!IsSaneAuthority(text.substr(authority_start, authority_end - authority_start)) ||
      !HoldsOnlyLinkCharacters(text)) {
    return std::nullopt;
  }
  std::string link(text);
  for (std::size_t i = 0; i < scheme_length; ++i) {
    if (link[i] >= 'A' && link[i] <= 'Z') link[i] = static_cast<char>(link[i] - 'A' + 'a');
  }
  return link;
}

}  // namespace brisal

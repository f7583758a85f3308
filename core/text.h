// Text services: UTF-8 <-> wide conversion, printf-style formatting into bounded
// buffers, and human-readable sizes.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// printf-style checking with the GNU conversions (%zu, %llu) on both targets: the
// mingw-w64 build uses its C99-conforming printf family. Clang (the fuzz build) knows
// only "printf", which on Linux checks the same conversions.
#if defined(__clang__)
#define BRISAL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define BRISAL_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#endif

namespace brisal {

// Invalid input is replaced by U+FFFD rather than refused; empty gives empty.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// A name the file system gave, in UTF-8 exactly or not at all: false for an unpaired
// surrogate (NTFS names are any 16-bit units), which no UTF-8 text stands for. Replaced,
// it would be another name, and whatever is done with that name would reach another
// file or none.
bool WideNameToUtf8(const std::wstring& name, std::string& out);

// A key that is equal for two texts that differ only in letter case, for every
// letter (Ñ and ñ, Σ and σ, not only A-Z): Unicode case folding on Linux, the file
// system's ordinal ignore-case comparison on Windows. Invalid UTF-8 is kept as is.
std::string FoldCase(const std::string& text);

// snprintf semantics: always terminated, cut to the buffer, returns the length the
// whole text needs (-1 on an encoding error).
int FormatNarrow(char* buffer, std::size_t size, const char* format, ...) BRISAL_PRINTF(3, 4);
int FormatNarrowV(char* buffer, std::size_t size, const char* format, std::va_list args);

// vswprintf semantics: -1 when formatting fails or the text does not fit.
int FormatWide(wchar_t* buffer, std::size_t size, const wchar_t* format, ...);

// "%llu B", "%.0f KB", "%.1f MB" or "%.2f GB" with 1 KB = 1024 bytes.
std::string FormatSize(std::uint64_t bytes);

// A byte count as an operator writes one: decimal digits with an optional K, M or G
// (either case, powers of 1024) and nothing else, not even a sign or a space. False
// for any other text and for a count beyond 64 bits.
bool ParseByteCount(std::string_view text, std::uint64_t& bytes);

// The code point of the UTF-8 sequence at `i`, moving `i` past it. A malformed
// sequence (overlong, a surrogate, beyond U+10FFFF, cut short) gives U+FFFD and
// moves one byte on.
char32_t DecodeUtf8(std::string_view text, std::size_t& i);

// Text from outside (a server, a local file) made fit to show and to log. Control
// characters (below 0x20, 0x7F, U+0080 to U+009F), bidirectional marks (U+200E,
// U+200F, U+061C), embeddings, overrides and isolates, line and paragraph separators,
// invisible format characters (U+180E, U+200B, U+2060 to U+206F, U+FEFF, U+FFF9 to
// U+FFFB) and bytes that are not UTF-8 (overlong forms of any length, surrogates,
// beyond U+10FFFF, cut short) each become U+FFFD, so nothing can drive a terminal,
// forge a log line or reorder or hide what the player reads. A text of more than
// `max_chars` characters keeps `max_chars` - 1 of them followed by "…". Reads no
// further than it needs.
inline constexpr std::size_t kSafeTextChars = 200;
std::string SafeText(std::string_view text, std::size_t max_chars = kSafeTextChars);

// printf into a std::string (no length limit), for building messages.
std::string StringPrintf(const char* format, ...) BRISAL_PRINTF(1, 2);

// Standard base64 (RFC 4648, "+" and "/", "=" padding), how keys and signatures
// travel as text. Decoding is strict: ASCII whitespace around the text is allowed, any
// other stray character, missing padding or non-zero padding bits refuse it, so one
// value has exactly one text.
std::string EncodeBase64(const std::string& bytes);
bool DecodeBase64(const std::string& text, std::string& bytes);

}  // namespace brisal

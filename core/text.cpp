#include "core/text.h"

#include <cstdio>
#include <cwchar>
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

}  // namespace brisal

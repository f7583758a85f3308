#include "ui/linux/xft_dpi.h"

#include <charconv>

namespace brisal {

float ParseXftDpi(std::string_view resources) {
  constexpr std::string_view kKey = "Xft.dpi:";
  std::size_t line_start = 0;
  while (line_start < resources.size()) {
    std::size_t line_end = resources.find('\n', line_start);
    if (line_end == std::string_view::npos) line_end = resources.size();
    std::string_view line = resources.substr(line_start, line_end - line_start);
    line_start = line_end + 1;
    if (!line.starts_with(kKey)) continue;
    line.remove_prefix(kKey.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
      line.remove_prefix(1);
    // from_chars for floats is locale-independent, unlike strtof.
    float dpi = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), dpi);
    if (error != std::errc() || !(dpi > 0)) return 0;
    return dpi;
  }
  return 0;
}

}  // namespace brisal

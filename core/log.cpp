#include "core/log.h"

#include <cstdarg>
#include <mutex>

#include "core/paths.h"
#include "core/platform.h"

namespace brisal {

namespace {

// The log lock: makes each line's open, write and close one unit within the process.
std::mutex g_log_mutex;

}  // namespace

void Log(const char* format, ...) {
  char message[1024];
  std::va_list args;
  va_start(args, format);
  // Longer messages are cut to 1023 bytes, possibly inside a UTF-8 sequence.
  if (FormatNarrowV(message, sizeof message, format, args) < 0) message[0] = '\0';
  va_end(args);

  // Messages carry paths and texts from servers and files: a CR LF in one must not
  // forge a line, nor an escape sequence reach whoever reads the log in a terminal.
  const std::string safe = SafeText(message, sizeof message);

  std::lock_guard<std::mutex> guard(g_log_mutex);
  const std::string path = JoinPath(DataFolder(), "launcher.log");
  platform::LocalTime t = platform::Now();
  char stamp[64];
  int n = FormatNarrow(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d  ", t.year, t.month,
                       t.day, t.hour, t.minute, t.second);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof stamp) return;
  platform::AppendOnce(path, stamp + safe + "\r\n");
}

}  // namespace brisal

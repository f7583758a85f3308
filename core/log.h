// launcher.log in the data folder: one "YYYY-MM-DD HH:MM:SS  message\r\n" line per
// call, appended under a process-wide lock with a single write, so lines from
// several threads or processes never interleave. Never fails visibly; never rotated.
#pragma once

#include "core/text.h"

namespace brisal {

void Log(const char* format, ...) BRISAL_PRINTF(1, 2);

}  // namespace brisal

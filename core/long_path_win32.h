// Paths for the Win32 calls of the backends. A client file may lie 240 bytes below an
// install folder that is itself some 50 characters deep, past the 260 characters
// (MAX_PATH) the plain form allows; Windows only opens such a path in its "\\?\" form,
// whatever the system's long-path setting.
#pragma once

#include <string>

namespace brisal {

// `path` (UTF-8, "\" or "/" separated) as a wide "\\?\" path: made absolute and
// normalised first ("/" turned into "\", "." and ".." resolved), since the system does
// neither for the "\\?\" form. A share becomes "\\?\UNC\server\share\...". A path
// already in a "\\?\" or "\\.\" form, and one the system cannot make absolute, are
// only converted.
std::wstring LongPath(const std::string& path);

}  // namespace brisal

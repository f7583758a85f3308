// The desktop's font DPI as X resources publish it ("Xft.dpi" in the root window's
// RESOURCE_MANAGER property, which xrdb and every desktop's settings daemon write).
#pragma once

#include <string_view>

namespace brisal {

// The value of "Xft.dpi" in a resource-manager text; 0 when it is missing or not a
// positive number.
float ParseXftDpi(std::string_view resources);

}  // namespace brisal

// The game's artwork, compiled into the executable from resources/*.png.
#pragma once

#include <string_view>

namespace brisal {

// The built-in logo: a 1032 x 340 PNG with an alpha channel.
std::string_view BuiltinLogoPng();

// The window icon: a 256 x 256 PNG.
std::string_view IconPng();

}  // namespace brisal

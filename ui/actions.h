// What the window's elements do when clicked (the LauncherWindow members are defined
// in actions.cpp), and the small rules behind the links that tests check on their own.
#pragma once

#include <cstdint>
#include <string>

namespace brisal {

// The only addresses ever handed to the browser: a link ParseWebLink accepts as it
// is, its scheme already in lower case (the window hands on what it parsed).
// Anything else could be a file, a program or a custom scheme handler on the player's
// machine, or an argument to the desktop's opener.
bool IsWebAddress(const std::string& address);

// The address a link without one of its own falls back to: the origin of `base_url`
// (its scheme, host and port) followed by "/" and `default_path`. Empty when
// `default_path` or the origin is empty.
std::string DeriveLinkAddress(const std::string& base_url, const std::string& default_path);

// The speed limit after `kib` (KiB per second, 0 for none) as a click on the speed
// figure steps through them: none, 20, 10, 5, 2 and 1 MB/s, then none again. A value
// edited into settings.json by hand goes on to the next choice below it.
std::uint32_t NextSpeedLimitKib(std::uint32_t kib);

// The notice for a link that cannot be opened; `display_name` is "Website",
// "Registro" or "Discord".
std::string LinkNotConfiguredNotice(const std::string& display_name);

}  // namespace brisal

// The one rule for a link that may be handed to the player's browser: the news feed
// takes its links through it and the window opens nothing else.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brisal {

inline constexpr std::size_t kMaxWebLinkBytes = 2048;

// `text` when it is a web link, with its scheme in lower case: "http://" or "https://"
// in any case, then a host of letters, digits, "-" and "." (or an IPv6 address in
// brackets) with an optional port, then anything that holds no space (ASCII or
// Unicode), quote (" ' `), angle bracket, backslash, control character, direction mark
// or bytes that are not UTF-8; at most kMaxWebLinkBytes in all. A user name before the
// host ("a@b") is refused: it only serves to make one host read as another. None
// otherwise.
std::optional<std::string> ParseWebLink(std::string_view text);

}  // namespace brisal

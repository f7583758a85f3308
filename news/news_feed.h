// The news feed's text, as the server sends it and as news.cache.json keeps it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "shared_state/launcher_state.h"

namespace brisal {

// The items of a feed (a bare array, or an object whose "news" is that array): at most
// kMaxNewsItems, each with a title, and a url that is empty or a web link as
// ParseWebLink gives it (core/web_link.h). None when
// the text is not such a document. Throws nlohmann::json::type_error for an item member
// that is not a string.
std::optional<std::vector<NewsItem>> ParseNewsFeed(const std::string& text);

}  // namespace brisal

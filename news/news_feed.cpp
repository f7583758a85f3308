#include "news/news_feed.h"

#include <nlohmann/json.hpp>

#include <utility>

#include "core/text.h"
#include "core/web_link.h"
#include "news/news_job.h"

namespace brisal {

namespace {

using Json = nlohmann::json;

}  // namespace

std::optional<std::vector<NewsItem>> ParseNewsFeed(const std::string& text) {
  Json document = Json::parse(text, nullptr, /*allow_exceptions=*/false,
                              /*ignore_comments=*/false);
  if (document.is_discarded()) return std::nullopt;
  if (document.is_object()) {
    auto news = document.find("news");
    if (news == document.end()) return std::nullopt;
    // Detached from the document so it can be walked on its own.
    Json inner = std::move(*news);
    document = std::move(inner);
  }
  if (!document.is_array()) return std::nullopt;

  std::vector<NewsItem> items;
  for (const Json& element : document) {
    if (items.size() >= kMaxNewsItems) break;
    if (!element.is_object()) continue;
    NewsItem item;
    // Shown as they come: made safe here, once for the window and the cache alike.
    item.tag = SafeText(element.value("tag", std::string()));
    item.title = SafeText(element.value("title", std::string()));
    item.date = SafeText(element.value("date", std::string()));
    if (item.title.empty()) continue;
    // The window hands the url to the desktop's browser: nothing but a web link that
    // parses; any other keeps its text and loses its link.
    item.url = ParseWebLink(element.value("url", std::string())).value_or(std::string());
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace brisal

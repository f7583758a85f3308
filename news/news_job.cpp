#include "news/news_job.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "net/http_client.h"

namespace brisal {

namespace {

using Json = nlohmann::json;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The body of a 200 answer to the news request; empty when the server gave none.
std::string FetchFeed(const std::string& base_url, const std::string& news_path) {
  HttpClient client;
  if (!client.Open(base_url)) return std::string();
  HttpLimits limits;
  limits.deadline = kNewsDeadline;
  client.SetLimits(limits);
  std::string body;
  const BodySink sink = [&body](const char* data, std::uint32_t length) {
    body.append(data, length);
    return body.size() < kNewsBodyCap;
  };
  // A body cut at the cap still counts as the server's answer: it then fails to parse
  // rather than bringing back older cached news as if the server were away.
  const HttpResult result =
      client.Get(news_path, "Cache-Control: no-cache\r\n", nullptr, sink, nullptr);
  if (result.status != 200 || result.error != 0) return std::string();
  return body;
}

// The items of a feed (a bare array, or an object whose "news" is that array); none
// when the text is not such a document. Throws nlohmann::json::type_error for an item
// member that is not a string.
std::optional<std::vector<NewsItem>> ParseFeed(const std::string& text) {
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
    item.url = element.value("url", std::string());
    if (item.title.empty()) continue;
    // The window hands the url to the desktop's browser: nothing but web links.
    if (!StartsWith(item.url, "http://") && !StartsWith(item.url, "https://")) {
      item.url.clear();
    }
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace

void RunNewsJob(LauncherState& state) {
  const std::string cache_path = JoinPath(DataFolder(), kNewsCacheName);

  std::string base_url;
  std::string news_path;
  {
    // A hand-over not yet taken up by an exclusive job is the newer wish.
    std::lock_guard<std::mutex> guard(state.state_lock);
    const JobSettings& settings = state.pending_dirty ? state.pending : state.live;
    base_url = settings.base_url;
    news_path = settings.news;
  }

  std::string feed;
  if (!news_path.empty()) feed = FetchFeed(base_url, news_path);
  // An empty 200 body is no feed either; only a server's non-empty body is fresh and
  // may replace the cache.
  const bool fresh = !feed.empty();
  if (!fresh && !ReadWholeFile(cache_path, feed)) return;

  std::optional<std::vector<NewsItem>> items = ParseFeed(feed);
  if (!items) return;

  // Kept exactly as the server sent it. A failed write only costs the offline news.
  if (fresh) WriteFileAtomic(cache_path, feed);

  {
    std::lock_guard<std::mutex> guard(state.state_lock);
    state.news = std::move(*items);
  }
  if (state.notify) state.notify();
}

}  // namespace brisal

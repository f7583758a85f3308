#include "news/news_job.h"

#include <string>
#include <utility>

#include "core/paths.h"
#include "net/http_client.h"
#include "news/news_feed.h"

namespace brisal {

namespace {

// The body of a 200 answer to the news request; empty when the server gave none.
std::string FetchFeed(const std::string& base_url, const std::string& news_path) {
  HttpClient client;
  if (!client.Open(base_url)) return std::string();
  HttpLimits limits;
  limits.deadline = kNewsDeadline;
  client.SetLimits(limits);
  client.SetAcceptCompressed(true);
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

}  // namespace

void RunNewsJob(LauncherState& state) {
  const std::string cache_path = JoinPath(DataFolder(), kNewsCacheName);

  const JobSettings settings = NewestSettings(state);
  const std::string& base_url = settings.base_url;
  const std::string& news_path = settings.news;

  std::string feed;
  if (!news_path.empty()) feed = FetchFeed(base_url, news_path);
  // An empty 200 body is no feed either; only a server's non-empty body is fresh and
  // may replace the cache.
  const bool fresh = !feed.empty();
  if (!fresh && !ReadWholeFile(cache_path, feed)) return;

  std::optional<std::vector<NewsItem>> items = ParseNewsFeed(feed);
  if (!items) return;

  // Kept exactly as the server sent it. A failed write only costs the offline news.
  if (fresh) WriteFileAtomic(cache_path, feed);

  PublishNews(state, std::move(*items));
}

}  // namespace brisal

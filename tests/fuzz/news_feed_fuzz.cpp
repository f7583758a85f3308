// The news feed: any text parses or is refused without crashing (a member of the wrong
// type throws the one documented exception), and what parses is fit to show.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/web_link.h"
#include "news/news_feed.h"
#include "news/news_job.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using brisal::fuzz::Require;
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    auto items = brisal::ParseNewsFeed(text);
    if (!items) return 0;
    Require(items->size() <= brisal::kMaxNewsItems, "at most the allowed number of items");
    for (const brisal::NewsItem& item : *items) {
      Require(!item.title.empty(), "every item has a title");
      // The window opens exactly what ParseWebLink accepts as it is.
      Require(item.url.empty() || brisal::ParseWebLink(item.url) == item.url,
              "a link is empty or a web link the window opens as it is");
    }
  } catch (const nlohmann::json::type_error&) {
    // The job wrapper logs it; the previous news stay.
  }
  return 0;
}

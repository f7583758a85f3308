#pragma once

#include <string>

namespace brisal {

struct NewsItem {
  std::string tag;
  std::string title;  // never empty in a stored item
  std::string date;   // shown as received
  std::string url;    // empty or starting with "http://" or "https://"
};

}  // namespace brisal

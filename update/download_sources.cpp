#include "update/download_sources.h"

#include "net/http_client.h"

namespace brisal {

DownloadSources::DownloadSources(const std::string& base_url,
                                 const std::vector<std::string>& mirrors) {
  urls_.push_back(base_url);
  for (const std::string& mirror : mirrors) {
    if (urls_.size() == 8 * sizeof(SourceMask)) break;
    urls_.push_back(mirror);
  }
  failures_in_a_row_ = std::make_unique<std::atomic<std::uint32_t>[]>(urls_.size());
}

std::optional<std::size_t> DownloadSources::Pick(SourceMask failed) const {
  std::optional<std::size_t> set_aside;
  bool any_in_service = false;
  for (std::size_t source = 0; source < urls_.size(); ++source) {
    const bool left = (failed & (SourceMask{1} << source)) == 0;
    if (!SetAside(source)) {
      if (left) return source;
      any_in_service = true;
    } else if (left && !set_aside) {
      set_aside = source;
    }
  }
  if (any_in_service) return std::nullopt;
  return set_aside;
}

void DownloadSources::Succeeded(std::size_t source) {
  failures_in_a_row_[source].store(0, std::memory_order_relaxed);
}

void DownloadSources::Failed(std::size_t source) {
  failures_in_a_row_[source].fetch_add(1, std::memory_order_relaxed);
}

bool DownloadSources::SetAside(std::size_t source) const {
  // With one source there is nothing to fall back on: it is never set aside.
  return urls_.size() > 1 &&
         failures_in_a_row_[source].load(std::memory_order_relaxed) >= kSetAsideAfter;
}

SourceClients::SourceClients(const DownloadSources& sources)
    : sources_(sources), clients_(sources.size()), unusable_(sources.size(), false) {}

SourceClients::~SourceClients() = default;

HttpClient* SourceClients::For(std::size_t source) {
  if (unusable_[source]) return nullptr;
  if (!clients_[source]) {
    auto client = std::make_unique<HttpClient>();
    if (!client->Open(sources_.url(source))) {
      unusable_[source] = true;
      return nullptr;
    }
    clients_[source] = std::move(client);
  }
  return clients_[source].get();
}

}  // namespace brisal

// The servers one update fetches its files from: base_url first, then the mirrors in
// the order config.json lists them, all serving the same files below files_path. A
// file that fails at one source moves on to the next; a source that keeps failing is
// set aside for the rest of the job. Shared by the workers of one update.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brisal {

class HttpClient;

// Sources a file already failed at, one bit each.
using SourceMask = std::uint32_t;

class DownloadSources {
 public:
  // Failures in a row, across files, after which a source is set aside.
  static constexpr std::uint32_t kSetAsideAfter = 3;

  DownloadSources(const std::string& base_url, const std::vector<std::string>& mirrors);

  std::size_t size() const { return urls_.size(); }
  const std::string& url(std::size_t source) const { return urls_[source]; }

  // The source to try next for a file that failed at those in `failed`: the first
  // other one still in service. Once only set-aside ones are left, nothing while one
  // in service remains (the file waits for it), else the first of them that is left.
  std::optional<std::size_t> Pick(SourceMask failed) const;

  void Succeeded(std::size_t source);
  void Failed(std::size_t source);
  bool SetAside(std::size_t source) const;

 private:
  std::vector<std::string> urls_;
  std::unique_ptr<std::atomic<std::uint32_t>[]> failures_in_a_row_;
};

// One worker's connections, one per source, each opened when first used.
class SourceClients {
 public:
  explicit SourceClients(const DownloadSources& sources);
  ~SourceClients();
  SourceClients(const SourceClients&) = delete;
  SourceClients& operator=(const SourceClients&) = delete;

  // Null when the source's URL cannot be opened.
  HttpClient* For(std::size_t source);

 private:
  const DownloadSources& sources_;
  std::vector<std::unique_ptr<HttpClient>> clients_;
  std::vector<bool> unusable_;
};

}  // namespace brisal

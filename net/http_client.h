// The launcher's only way to the network: GET requests for paths below one base URL,
// bodies streamed to a sink in chunks of at most 64 KiB. One client per thread.
// Failures are reported with WinHTTP's error numbers on every platform, so
// HttpErrorText gives the same sentence everywhere.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/network_errors.h"
#include "net/retry_after.h"

namespace brisal {

struct HttpResult {
  std::uint32_t status = 0;  // 0: no response
  std::uint32_t error = 0;   // WinHTTP error number of the failed step; 0: none
  bool aborted = false;      // a callback said stop, or the cancel flag was seen
  bool has_content_length = false;
  std::uint64_t content_length = 0;
  std::string etag;  // exactly as sent, quotes included
  // How long a 503 or 429 answer asked the launcher to stay away (its Retry-After,
  // capped at kMaxRetryAfter); 0: it named no usable wait, or another status came.
  std::chrono::seconds retry_after{0};
};

// Called once, after the final response's headers and before any body byte;
// returning false abandons the body.
using ResponseCallback = std::function<bool(const HttpResult&)>;
// Called per body chunk; returning false stops the transfer.
using BodySink = std::function<bool(const char* data, std::uint32_t length)>;

// How long a request may take. The defaults are the launcher's; tests shorten them.
struct HttpLimits {
  std::chrono::milliseconds resolve{5000};
  std::chrono::milliseconds connect{8000};
  std::chrono::milliseconds send{15000};
  std::chrono::milliseconds receive{20000};  // the longest wait for the next byte
  // A server that trickles a byte now and then never trips `receive`; a transfer that
  // moves fewer than `low_speed_bytes` in a `low_speed_window` fails with the
  // time-out (0 bytes: no floor).
  std::uint64_t low_speed_bytes = 60 * 1024;
  std::chrono::milliseconds low_speed_window{60000};
  // The longest a whole request may take, 0 for none: only for small documents.
  std::chrono::milliseconds deadline{0};
};

class HttpClient {
 public:
  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Prepares a connection to the base URL's host (no request is sent). False for a
  // malformed URL or a scheme other than http/https.
  bool Open(const std::string& base_url);

  // Applies to every later request of this client.
  void SetLimits(const HttpLimits& limits);
  // Trusts the certificates of this PEM file instead of the system's, from the next
  // Open on (tests of TLS bring their own CA; the WinHTTP backend takes the file's
  // first certificate). A file that cannot be read trusts nothing.
  void SetTrustedCaFile(const std::string& pem_path);
  // Asks for gzip bodies from the next request on, for documents (manifest, news)
  // that are read whole: the sink then receives the decoded bytes, so caps and
  // signatures apply to what the server meant, and no length is reported (the
  // announced one is the encoded size). Never for client files, whose ranges and
  // hashes are over the bytes as stored. A WinHTTP that cannot decode sends no
  // Accept-Encoding, so the server answers uncompressed.
  void SetAcceptCompressed(bool accept);

  // `path` is relative to the base URL's path (no leading "/"), may carry "?query".
  // `extra_headers`: complete lines, each ending in "\r\n". `cancel` may be null.
  HttpResult Get(const std::string& path, const std::string& extra_headers,
                 const ResponseCallback& on_response, const BodySink& on_data,
                 const std::atomic<bool>* cancel);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A small document fetched whole. A body that would pass `cap` bytes ends the transfer
// (`too_large`, and `body` holds what came before it), so a hostile server cannot make
// us hold more than the cap.
struct SmallDocument {
  HttpResult result;
  std::string body;
  bool too_large = false;
};
SmallDocument FetchSmallDocument(HttpClient& client, const std::string& path,
                                 const std::string& extra_headers, std::uint64_t cap,
                                 const std::atomic<bool>* cancel);

// The Spanish sentence for an error number (0: "Error desconocido").
std::string HttpErrorText(std::uint32_t error);

// The request target for `path`: `base_path` + the path proper percent-encoded
// byte by byte (unreserved characters and "/" kept) + "?" + the query, unencoded.
std::string BuildObjectName(const std::string& base_path, const std::string& path);

}  // namespace brisal

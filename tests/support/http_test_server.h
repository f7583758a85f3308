// A small HTTP/1.1 server on 127.0.0.1 for tests of everything that talks to the game's
// web server. It serves files from memory (ETag, If-None-Match, "Range: bytes=N-" and
// "bytes=N-M"), and any path can be given a handler that answers with faults: odd
// statuses, redirects, stalls, bodies cut short or longer or shorter than their
// Content-Length.
// Every request is recorded. One thread per connection, keep-alive supported; the
// destructor releases every stall, drops every connection and joins every thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brisal::testing {

struct HttpTestRequest {
  std::string method;
  std::string target;  // exactly as it came on the request line
  std::vector<std::pair<std::string, std::string>> headers;
  int connection = 0;  // 1 for the first connection the server accepted, and so on

  // The first header of that name (any case); empty when absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

struct HttpTestResponse {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // Content-Length is added
  std::string body;
  // Content-Length to announce instead of the body's size (a lying server).
  std::optional<std::uint64_t> declared_length;
  // Drop the connection after this many body bytes.
  std::optional<std::size_t> cut_after;
  // Pause before the headers, or after this many body bytes, for `stall_for`
  // (zero: until ReleaseStalls() or the server's end).
  bool stall_before_headers = false;
  std::optional<std::size_t> stall_at;
  std::chrono::milliseconds stall_for{0};
  // Close the connection once the response is sent.
  bool close = false;
  // Bytes sent exactly as they are in place of everything above, then the close.
  std::optional<std::string> raw;
  // A server slow but never quite silent: the body goes out `trickle_bytes` at a time
  // with `trickle_pause` after each piece (0 bytes: all at once).
  std::size_t trickle_bytes = 0;
  std::chrono::milliseconds trickle_pause{0};

  static HttpTestResponse WithStatus(int status, std::string body = {});
  static HttpTestResponse Redirect(int status, const std::string& location);
};

using HttpTestHandler = std::function<HttpTestResponse(const HttpTestRequest&)>;

class HttpTestServer {
 public:
  HttpTestServer();
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  int port() const;
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string Url(const std::string& path = "/") const;

  // Files and handlers are found by the request target's path (before any "?"), as
  // sent, so "/a%20b" names what a client asks for with a space.
  void AddFile(const std::string& path, std::string body, std::string etag = {});
  void SetHandler(const std::string& path, HttpTestHandler handler);
  // Answer ranged requests for files with the whole file and 200, as some servers do.
  void SetIgnoreRange(bool ignore);
  // Ends every stall, now and later.
  void ReleaseStalls();

  std::vector<HttpTestRequest> Requests() const;
  std::uint64_t BodyBytesSent() const;
  int Connections() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A port on 127.0.0.1 where a connection is never completed: its listener's queue is
// kept full, so the system drops every further connection attempt unanswered.
class UnansweredPort {
 public:
  UnansweredPort();
  ~UnansweredPort();
  UnansweredPort(const UnansweredPort&) = delete;
  UnansweredPort& operator=(const UnansweredPort&) = delete;

  std::string Url(const std::string& path = "/") const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace brisal::testing

#include "tests/support/http_test_server.h"

#ifndef _WIN32
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "tests/support/loopback.h"

namespace brisal::testing {

namespace {

bool SendAll(Socket socket, const char* data, std::size_t length) {
  while (length > 0) {
    const int chunk = static_cast<int>(std::min<std::size_t>(length, 1 << 20));
    const auto sent = send(socket, data, chunk, kSendFlags);
    if (sent <= 0) return false;
    data += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 304:
      return "Not Modified";
    case 404:
      return "Not Found";
    case 416:
      return "Range Not Satisfiable";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

bool HasNoBody(int status) {
  return status < 200 || status == 204 || status == 304;
}

HttpTestRequest ParseRequest(const std::string& head) {
  HttpTestRequest request;
  std::size_t line_end = head.find("\r\n");
  const std::string first = head.substr(0, line_end);
  const std::size_t space1 = first.find(' ');
  const std::size_t space2 = first.find(' ', space1 == std::string::npos ? 0 : space1 + 1);
  request.method = first.substr(0, space1);
  if (space1 != std::string::npos) request.target = first.substr(space1 + 1, space2 - space1 - 1);
  while (line_end != std::string::npos) {
    const std::size_t start = line_end + 2;
    line_end = head.find("\r\n", start);
    const std::string line = head.substr(start, line_end - start);
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    request.headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
  }
  return request;
}

// "bytes=N-" (to the end) or "bytes=N-M"; false for any other form.
bool ParseRange(const std::string& range, std::uint64_t& from, std::uint64_t& last) {
  const std::string prefix = "bytes=";
  if (range.compare(0, prefix.size(), prefix) != 0) return false;
  const std::size_t dash = range.find('-', prefix.size());
  if (dash == std::string::npos) return false;
  const std::string first = range.substr(prefix.size(), dash - prefix.size());
  const std::string second = range.substr(dash + 1);
  auto digits = [](const std::string& text) {
    return !text.empty() && text.size() < 19 &&
           text.find_first_not_of("0123456789") == std::string::npos;
  };
  if (!digits(first) || (!second.empty() && !digits(second))) return false;
  from = std::stoull(first);
  last = second.empty() ? UINT64_MAX : std::stoull(second);
  return true;
}

}  // namespace

std::string HttpTestRequest::Header(const std::string& name) const {
  const std::string wanted = Lower(name);
  for (const auto& [key, value] : headers) {
    if (Lower(key) == wanted) return value;
  }
  return {};
}

bool HttpTestRequest::HasHeader(const std::string& name) const {
  const std::string wanted = Lower(name);
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& header) { return Lower(header.first) == wanted; });
}

HttpTestResponse HttpTestResponse::WithStatus(int status, std::string body) {
  HttpTestResponse response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

HttpTestResponse HttpTestResponse::Redirect(int status, const std::string& location) {
  HttpTestResponse response = WithStatus(status, "moved");
  response.headers.emplace_back("Location", location);
  return response;
}

struct HttpTestServer::State {
  struct File {
    std::string body;
    std::string etag;
  };
  struct Connection {
    Socket socket = kNoSocket;
    bool open = true;  // guarded by mutex
    std::thread thread;
  };

  SocketLibrary library;
  Socket listener = kNoSocket;
  int port = 0;
  std::thread acceptor;

  mutable std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  bool released = false;
  std::vector<std::unique_ptr<Connection>> connections;
  std::map<std::string, File> files;
  std::map<std::string, HttpTestHandler> handlers;
  bool ignore_range = false;
  std::vector<HttpTestRequest> requests;
  std::uint64_t body_bytes = 0;

  void Accept() {
    for (;;) {
      const Socket socket = accept(listener, nullptr, nullptr);
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping) {
        if (socket != kNoSocket) CloseSocket(socket);
        return;
      }
      if (socket == kNoSocket) continue;
      int on = 1;
      setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
      auto connection = std::make_unique<Connection>();
      connection->socket = socket;
      const int id = static_cast<int>(connections.size()) + 1;
      connection->thread = std::thread([this, c = connection.get(), id] { Serve(*c, id); });
      connections.push_back(std::move(connection));
    }
  }

  // Closing happens under the lock so the destructor never shuts down a descriptor
  // number that has been closed and reused.
  void Close(Connection& connection) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!connection.open) return;
    CloseSocket(connection.socket);
    connection.open = false;
  }

  // Waits in short slices so that an idle keep-alive connection notices the server's
  // end: shutdown() does not wake a blocked recv() under Wine. False when stopping.
  bool WaitReadable(Socket socket) {
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) return false;
      }
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(socket, &readable);
      timeval slice{0, 20000};
      const int ready = select(static_cast<int>(socket) + 1, &readable, nullptr, nullptr, &slice);
      if (ready < 0) return false;
      if (ready > 0) return true;
    }
  }

  // False when the server is stopping.
  bool Pause(std::chrono::milliseconds duration) {
    std::unique_lock<std::mutex> lock(mutex);
    return !wake.wait_for(lock, duration, [this] { return stopping; });
  }

  // False when the server is stopping.
  bool Stall(std::chrono::milliseconds duration) {
    std::unique_lock<std::mutex> lock(mutex);
    auto done = [this] { return stopping || released; };
    if (duration.count() > 0) {
      wake.wait_for(lock, duration, done);
    } else {
      wake.wait(lock, done);
    }
    return !stopping;
  }

  void Serve(Connection& connection, int id) {
    std::string pending;
    for (;;) {
      std::size_t head_end;
      while ((head_end = pending.find("\r\n\r\n")) == std::string::npos) {
        char chunk[4096];
        if (!WaitReadable(connection.socket)) {
          Close(connection);
          return;
        }
        const auto received = recv(connection.socket, chunk, sizeof chunk, 0);
        if (received <= 0) {
          Close(connection);
          return;
        }
        pending.append(chunk, static_cast<std::size_t>(received));
      }
      HttpTestRequest request = ParseRequest(pending.substr(0, head_end));
      pending.erase(0, head_end + 4);
      request.connection = id;
      {
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(request);
      }
      const HttpTestResponse response = Answer(request);
      const bool keep_open = Send(connection.socket, request, response) && !response.close &&
                             Lower(request.Header("Connection")) != "close";
      if (!keep_open) {
        Close(connection);
        return;
      }
    }
  }

  HttpTestResponse Answer(const HttpTestRequest& request) {
    const std::string path = request.target.substr(0, request.target.find('?'));
    HttpTestHandler handler;
    File file;
    bool found = false;
    bool ignore = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (auto it = handlers.find(path); it != handlers.end()) handler = it->second;
      if (auto it = files.find(path); it != files.end()) {
        file = it->second;
        found = true;
      }
      ignore = ignore_range;
    }
    if (handler) return handler(request);
    if (!found) return HttpTestResponse::WithStatus(404, "not found");

    HttpTestResponse response;
    if (!file.etag.empty()) {
      response.headers.emplace_back("ETag", file.etag);
      if (request.Header("If-None-Match") == file.etag) {
        response.status = 304;
        return response;
      }
    }
    // "bytes=N-" and "bytes=N-M" are understood; anything else gets the whole file.
    std::uint64_t from = 0;
    std::uint64_t last = 0;
    const std::string range = request.Header("Range");
    const bool ranged = ParseRange(range, from, last);
    if (!ignore && ranged) {
      const std::uint64_t size = file.body.size();
      if (from >= size || last < from) {
        response.status = 416;
        response.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
        return response;
      }
      last = std::min(last, size - 1);
      response.status = 206;
      response.headers.emplace_back("Content-Range", "bytes " + std::to_string(from) + "-" +
                                                         std::to_string(last) + "/" +
                                                         std::to_string(size));
      response.body = file.body.substr(static_cast<std::size_t>(from),
                                       static_cast<std::size_t>(last - from + 1));
      return response;
    }
    response.body = std::move(file.body);
    return response;
  }

  void AddBodyBytes(std::int64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    body_bytes += static_cast<std::uint64_t>(bytes);
  }

  // False when the connection must end after this response.
  bool Send(Socket socket, const HttpTestRequest& request, const HttpTestResponse& response) {
    if (response.raw) {
      SendAll(socket, response.raw->data(), response.raw->size());
      return false;
    }
    if (response.stall_before_headers && !Stall(response.stall_for)) return false;
    const bool body_allowed = !HasNoBody(response.status) && request.method != "HEAD";
    std::string head =
        "HTTP/1.1 " + std::to_string(response.status) + " " + Reason(response.status) + "\r\n";
    for (const auto& [name, value] : response.headers)
      head += name + ": " + value + "\r\n";
    if (response.status != 304) {
      const std::uint64_t length =
          response.declared_length.value_or(body_allowed ? response.body.size() : 0);
      head += "Content-Length: " + std::to_string(length) + "\r\n";
    }
    if (response.close) head += "Connection: close\r\n";
    head += "\r\n";
    if (!SendAll(socket, head.data(), head.size())) return false;
    if (!body_allowed) return true;

    const std::size_t limit =
        std::min(response.body.size(), response.cut_after.value_or(response.body.size()));
    bool stalled = false;
    std::size_t sent = 0;
    for (;;) {
      if (response.stall_at && !stalled && sent >= *response.stall_at) {
        stalled = true;
        if (!Stall(response.stall_for)) return false;
      }
      if (sent >= limit) break;
      std::size_t piece = std::min<std::size_t>(16384, limit - sent);
      if (response.stall_at && !stalled) piece = std::min(piece, *response.stall_at - sent);
      if (response.trickle_bytes > 0) piece = std::min(piece, response.trickle_bytes);
      // Counted before it leaves: the client may have read it, finished and asked the
      // count by then.
      AddBodyBytes(piece);
      if (!SendAll(socket, response.body.data() + sent, piece)) {
        AddBodyBytes(-static_cast<std::int64_t>(piece));
        return false;
      }
      sent += piece;
      if (response.trickle_bytes > 0 && !Pause(response.trickle_pause)) return false;
    }
    return !response.cut_after.has_value();
  }
};

HttpTestServer::HttpTestServer() : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.listener = ListenOnLoopback(16, s.port);
  if (s.listener == kNoSocket) return;
  s.acceptor = std::thread([&s] { s.Accept(); });
}

HttpTestServer::~HttpTestServer() {
  State& s = *state_;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.stopping = true;
  }
  s.wake.notify_all();
  if (s.acceptor.joinable()) {
    // accept() is woken the portable way: by one more connection, which it drops.
    const Socket waker = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = Loopback(s.port);
    connect(waker, reinterpret_cast<sockaddr*>(&address), sizeof address);
    s.acceptor.join();
    CloseSocket(waker);
  }
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto& connection : s.connections) {
      if (connection->open) shutdown(connection->socket, kShutdownBoth);
    }
  }
  for (auto& connection : s.connections) {
    connection->thread.join();
    s.Close(*connection);
  }
  if (s.listener != kNoSocket) CloseSocket(s.listener);
}

int HttpTestServer::port() const {
  return state_->port;
}

std::string HttpTestServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + path;
}

void HttpTestServer::AddFile(const std::string& path, std::string body, std::string etag) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->files[path] = State::File{std::move(body), std::move(etag)};
}

void HttpTestServer::SetHandler(const std::string& path, HttpTestHandler handler) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->handlers[path] = std::move(handler);
}

void HttpTestServer::SetIgnoreRange(bool ignore) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->ignore_range = ignore;
}

void HttpTestServer::ReleaseStalls() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->released = true;
  }
  state_->wake.notify_all();
}

std::vector<HttpTestRequest> HttpTestServer::Requests() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->requests;
}

std::uint64_t HttpTestServer::BodyBytesSent() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->body_bytes;
}

int HttpTestServer::Connections() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return static_cast<int>(state_->connections.size());
}

struct UnansweredPort::State {
  SocketLibrary library;
  Socket listener = kNoSocket;
  std::vector<Socket> fillers;
  int port = 0;
};

UnansweredPort::UnansweredPort() : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.listener = ListenOnLoopback(0, s.port);
  if (s.listener == kNoSocket) return;
  sockaddr_in address = Loopback(s.port);
  // Connections that nobody accepts fill the queue; they are started without waiting,
  // since the ones beyond the queue never complete.
  for (int i = 0; i < 4; ++i) {
    const Socket filler = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (filler == kNoSocket) continue;
#ifdef _WIN32
    u_long non_blocking = 1;
    ioctlsocket(filler, FIONBIO, &non_blocking);
#else
    fcntl(filler, F_SETFL, fcntl(filler, F_GETFL) | O_NONBLOCK);
#endif
    connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    s.fillers.push_back(filler);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

UnansweredPort::~UnansweredPort() {
  for (Socket filler : state_->fillers)
    CloseSocket(filler);
  if (state_->listener != kNoSocket) CloseSocket(state_->listener);
}

std::string UnansweredPort::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + path;
}

}  // namespace brisal::testing

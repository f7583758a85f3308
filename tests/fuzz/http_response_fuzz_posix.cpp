// The HTTP client against a server whose every byte comes from the fuzzer: a loopback
// listener answers each connection with the input as it stands, then closes. Every
// request, whatever host a redirect names, is sent to that listener through the proxy
// variables, so no input makes the harness reach out or wait on an address.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "net/http_client.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using brisal::fuzz::Require;

class RawServer {
 public:
  RawServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Require(listener_ >= 0, "the harness gets a socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Require(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                listen(listener_, 16) == 0,
            "the harness listens on loopback");
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    std::thread([this] { Serve(); }).detach();  // lives as long as the process
  }

  int port() const { return port_; }

  void SetResponse(std::string response) {
    std::lock_guard<std::mutex> guard(lock_);
    response_ = std::move(response);
  }

 private:
  void Serve() {
    for (;;) {
      int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      ReadRequestHead(connection);
      std::string response;
      {
        std::lock_guard<std::mutex> guard(lock_);
        response = response_;
      }
      std::size_t done = 0;
      while (done < response.size()) {
        ssize_t n = send(connection, response.data() + done, response.size() - done, MSG_NOSIGNAL);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      shutdown(connection, SHUT_WR);
      close(connection);
    }
  }

  static void ReadRequestHead(int connection) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
      ssize_t n = recv(connection, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      head.append(buffer, static_cast<std::size_t>(n));
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::mutex lock_;
  std::string response_;
};

RawServer& Server() {
  static RawServer* server = [] {
    static RawServer instance;
    const std::string proxy = "http://127.0.0.1:" + std::to_string(instance.port());
    setenv("http_proxy", proxy.c_str(), 1);
    setenv("HTTPS_PROXY", proxy.c_str(), 1);
    setenv("https_proxy", proxy.c_str(), 1);
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
    return &instance;
  }();
  return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  RawServer& server = Server();
  server.SetResponse(std::string(reinterpret_cast<const char*>(data), size));

  brisal::HttpClient client;
  Require(client.Open("http://127.0.0.1:" + std::to_string(server.port()) + "/base/"),
          "the loopback base URL opens");
  int responses = 0;
  bool body_before_response = false;
  bool oversized_chunk = false;
  std::uint64_t delivered = 0;
  const brisal::ResponseCallback on_response = [&](const brisal::HttpResult&) {
    ++responses;
    return true;
  };
  const brisal::BodySink sink = [&](const char*, std::uint32_t length) {
    if (responses == 0) body_before_response = true;
    if (length > 65536) oversized_chunk = true;
    delivered += length;
    return true;
  };
  const brisal::HttpResult result =
      client.Get("dir/file.bin", "Range: bytes=0-\r\n", on_response, sink, nullptr);

  Require(responses <= 1, "the response callback runs at most once");
  Require(!body_before_response, "no body byte comes before the response callback");
  Require(!oversized_chunk, "no body chunk is larger than 64 KiB");
  Require(result.error != 0 || result.status != 0, "a transfer without error has a status");
  Require(!brisal::HttpErrorText(result.error).empty(), "every error has a sentence");
  if (result.error == 0 && !result.aborted && result.has_content_length &&
      (result.status == 200 || result.status == 206)) {
    Require(delivered == result.content_length,
            "a complete transfer delivers exactly the announced length");
  }
  return 0;
}

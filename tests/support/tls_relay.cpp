#include "tests/support/tls_relay.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "core/free_with.h"
#include "tests/support/loopback.h"
#include "tests/support/temp_dir.h"

namespace brisal::testing {

namespace {

// The certificates, made by the openssl tool.
bool MakeCertificates(const TempDir& dir) {
  const std::string command =
      "cd '" + dir.path() + "' && { " + TlsCertificateCommands() + "; } >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace

struct TlsRelay::State {
  TempDir dir;
  OwningPtr<SSL_CTX, SSL_CTX_free> ctx;
  int target_port = 0;
  int listener = -1;
  int port = 0;
  std::atomic<bool> stopping{false};
  std::thread acceptor;
  std::mutex mutex;
  std::vector<int> sockets;  // guarded by mutex: shut down at the end to wake the pumps
  std::vector<std::thread> pumps;

  void Track(int socket) {
    std::lock_guard<std::mutex> lock(mutex);
    sockets.push_back(socket);
  }

  void Accept() {
    for (;;) {
      const int client = accept(listener, nullptr, nullptr);
      if (stopping) {
        if (client >= 0) close(client);
        return;
      }
      if (client < 0) continue;
      Track(client);
      std::lock_guard<std::mutex> lock(mutex);
      pumps.emplace_back([this, client] { Relay(client); });
    }
  }

  // Decrypts what the client sends into the plain server and back, until either side
  // ends. A failed handshake (an untrusting client) just ends the connection.
  void Relay(int client) {
    OwningPtr<SSL, SSL_free> ssl(SSL_new(ctx.get()));
    if (!ssl) return;
    SSL_set_fd(ssl.get(), client);
    if (SSL_accept(ssl.get()) != 1) return;
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    if (server < 0) return;
    Track(server);
    sockaddr_in address = Loopback(target_port);
    if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
    char buffer[16384];
    while (!stopping) {
      pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      if (SSL_pending(ssl.get()) == 0 && poll(fds, 2, 50) <= 0) continue;
      if (SSL_pending(ssl.get()) > 0 || (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
        const int n = SSL_read(ssl.get(), buffer, sizeof buffer);
        if (n <= 0 || send(server, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) break;
      }
      if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
        const auto n = recv(server, buffer, sizeof buffer, 0);
        if (n <= 0 || SSL_write(ssl.get(), buffer, static_cast<int>(n)) != n) break;
      }
    }
    SSL_shutdown(ssl.get());
  }
};

TlsRelay::TlsRelay(int target_port, TlsLeaf leaf) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.target_port = target_port;
  ca_file_ = s.dir.Sub("ca.pem");
  other_ca_file_ = s.dir.Sub("other-ca.pem");
  // OpenSSL writes to the client's socket without MSG_NOSIGNAL: a client that hangs up
  // first (a refused redirect, say) must not end the test program.
  std::signal(SIGPIPE, SIG_IGN);
  if (!MakeCertificates(s.dir)) return;
  s.ctx.reset(SSL_CTX_new(TLS_server_method()));
  if (!s.ctx ||
      SSL_CTX_use_certificate_file(s.ctx.get(), s.dir.Sub(TlsLeafCertificate(leaf)).c_str(),
                                   SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(s.ctx.get(), s.dir.Sub(TlsLeafKey(leaf)).c_str(),
                                  SSL_FILETYPE_PEM) != 1) {
    s.ctx.reset();
    return;
  }
  s.listener = ListenOnLoopback(16, s.port);
  if (s.listener == kNoSocket) {
    s.ctx.reset();
    return;
  }
  s.acceptor = std::thread([&s] { s.Accept(); });
  port_ = s.port;
  ok_ = true;
}

TlsRelay::~TlsRelay() {
  State& s = *state_;
  s.stopping = true;
  if (s.acceptor.joinable()) {
    const int waker = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(s.port);
    connect(waker, reinterpret_cast<sockaddr*>(&address), sizeof address);
    s.acceptor.join();
    close(waker);
  }
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    for (int socket : s.sockets)
      shutdown(socket, SHUT_RDWR);
  }
  for (std::thread& pump : s.pumps)
    pump.join();
  for (int socket : s.sockets)
    close(socket);
  if (s.listener >= 0) close(s.listener);
}

}  // namespace brisal::testing

// An HTTPS front for a test server (Linux only): TLS on a port of 127.0.0.1 with a
// certificate for that address, signed by a test CA made when the relay starts and
// trusted by no one but the tests that ask for it; every byte is relayed to and from
// the plain server behind it, so its handlers, redirects and faults work unchanged.
#pragma once

#include <memory>
#include <string>

namespace brisal::testing {

class TlsRelay {
 public:
  explicit TlsRelay(int target_port);
  ~TlsRelay();
  TlsRelay(const TlsRelay&) = delete;
  TlsRelay& operator=(const TlsRelay&) = delete;

  // False when the certificates or the listener could not be made.
  bool ok() const;
  // "https://127.0.0.1:<port>" followed by `path`.
  std::string Url(const std::string& path = "/") const;
  // The PEM file of the test CA.
  std::string CaFile() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace brisal::testing

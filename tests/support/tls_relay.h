// An HTTPS front for a test server: TLS on a port of 127.0.0.1 with a certificate for
// that address, signed by a test CA made when the relay starts and trusted by no one
// but the tests that ask for it; every byte is relayed to and from the plain server
// behind it, so its handlers, redirects and faults work unchanged. On Linux it runs
// in the test program on OpenSSL; under Wine it is the socat tool on the Linux side.
#pragma once

#include <memory>
#include <string>

namespace brisal::testing {

// Shell commands that make, in the current folder, the test CA (ca.pem), another CA
// of the same name (other-ca.pem) and the relay's certificate for 127.0.0.1
// (server.pem, server.key). The address is also a DNS name of the certificate, as
// Wine matches a host against those alone.
inline std::string TlsCertificateCommands() {
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
  const std::string ca =
      " -subj /CN=Brisal-Test-CA -days 2 -addext basicConstraints=critical,CA:TRUE"
      " -addext keyUsage=critical,keyCertSign";
  std::string commands = "printf 'subjectAltName=IP:127.0.0.1,DNS:127.0.0.1\\n' > ext.cnf";
  commands += " && openssl req -x509" + key + "-keyout ca.key -out ca.pem" + ca;
  commands += " && openssl req -x509" + key + "-keyout other-ca.key -out other-ca.pem" + ca;
  commands += " && openssl req" + key + "-keyout server.key -out server.csr -subj /CN=127.0.0.1";
  commands +=
      " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
      " -out server.pem -days 2 -extfile ext.cnf";
  return commands;
}

class TlsRelay {
 public:
  explicit TlsRelay(int target_port);
  ~TlsRelay();
  TlsRelay(const TlsRelay&) = delete;
  TlsRelay& operator=(const TlsRelay&) = delete;

  // False when the certificates or the listener could not be made.
  bool ok() const { return ok_; }
  // "https://127.0.0.1:<port>" followed by `path`.
  std::string Url(const std::string& path = "/") const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
  }
  // The PEM file of the test CA.
  const std::string& CaFile() const { return ca_file_; }
  // The PEM file of another CA, which signed nothing the relay shows.
  const std::string& OtherCaFile() const { return other_ca_file_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  bool ok_ = false;
  int port_ = 0;
  std::string ca_file_;
  std::string other_ca_file_;
};

}  // namespace brisal::testing

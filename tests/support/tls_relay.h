// An HTTPS front for a test server: TLS on a port of 127.0.0.1 with a certificate for
// that address, signed by a test CA made when the relay starts and trusted by no one
// but the tests that ask for it; every byte is relayed to and from the plain server
// behind it, so its handlers, redirects and faults work unchanged. On Linux it runs
// in the test program on OpenSSL; under Wine it is the socat tool on the Linux side.
#pragma once

#include <memory>
#include <string>

namespace brisal::testing {

// Which certificate the relay shows.
enum class TlsLeaf {
  kForAddress,    // for 127.0.0.1, signed by the test CA
  kForOtherHost,  // signed by the test CA, for another host name only
  kFromOtherCa,   // for 127.0.0.1, signed by the other CA
};

// Shell commands that make, in the current folder, the test CA (ca.pem), another CA
// of the same name (other-ca.pem) and the relay's certificates: for 127.0.0.1
// (server.pem, server.key), for another host (other-host.pem, other-host.key) and for
// 127.0.0.1 from the other CA (other-ca-server.pem, with server.key). The address is
// also a DNS name of the certificate, as Wine matches a host against those alone.
// The CAs sign with RSA: Wine's crypt32 refuses an ECDSA signature whose r or s has a
// leading zero byte (about one signature in 128), which made a trusted chain fail now
// and then.
inline std::string TlsCertificateCommands() {
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
  const std::string ca_key = " -newkey rsa:2048 -nodes ";
  const std::string ca =
      " -subj /CN=Brisal-Test-CA -days 2 -addext basicConstraints=critical,CA:TRUE"
      " -addext keyUsage=critical,keyCertSign";
  std::string commands = "printf 'subjectAltName=IP:127.0.0.1,DNS:127.0.0.1\\n' > ext.cnf";
  commands += " && openssl req -x509" + ca_key + "-keyout ca.key -out ca.pem" + ca;
  commands += " && openssl req -x509" + ca_key + "-keyout other-ca.key -out other-ca.pem" + ca;
  commands += " && openssl req" + key + "-keyout server.key -out server.csr -subj /CN=127.0.0.1";
  commands +=
      " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
      " -out server.pem -days 2 -extfile ext.cnf";
  commands +=
      " && openssl x509 -req -in server.csr -CA other-ca.pem -CAkey other-ca.key"
      " -CAcreateserial -out other-ca-server.pem -days 2 -extfile ext.cnf";
  commands += " && printf 'subjectAltName=DNS:brisal-other-host.example\\n' > other-ext.cnf";
  commands += " && openssl req" + key +
              "-keyout other-host.key -out other-host.csr -subj /CN=brisal-other-host.example";
  commands +=
      " && openssl x509 -req -in other-host.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
      " -out other-host.pem -days 2 -extfile other-ext.cnf";
  return commands;
}

// The certificate and key files, in the folder of TlsCertificateCommands, of `leaf`.
inline std::string TlsLeafCertificate(TlsLeaf leaf) {
  switch (leaf) {
    case TlsLeaf::kForOtherHost:
      return "other-host.pem";
    case TlsLeaf::kFromOtherCa:
      return "other-ca-server.pem";
    default:
      return "server.pem";
  }
}
inline std::string TlsLeafKey(TlsLeaf leaf) {
  return leaf == TlsLeaf::kForOtherHost ? "other-host.key" : "server.key";
}

class TlsRelay {
 public:
  explicit TlsRelay(int target_port, TlsLeaf leaf = TlsLeaf::kForAddress);
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

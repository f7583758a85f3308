// The HTTPS front under Wine: the certificates and the relay come from Linux tools
// (openssl, socat), started through Wine's launch of Unix programs. Wine gives no
// handle to such a process and detaches it from the test program (its standard input
// is not the pipe it was given either), so its life is tied to the relay's folder.
#include <windows.h>

#include <chrono>
#include <thread>

#include "core/text.h"
#include "tests/support/loopback.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tls_relay.h"
#include "tests/support/wine_unix.h"

namespace brisal::testing {

namespace {

// A free port of 127.0.0.1, for socat to listen on.
int FreePort(const SocketLibrary&) {
  int port = 0;
  const Socket probe = ListenOnLoopback(1, port);
  if (probe == kNoSocket) return 0;
  CloseSocket(probe);
  return port;
}

bool Accepts(const SocketLibrary&, int port) {
  const Socket probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (probe == kNoSocket) return false;
  sockaddr_in address = Loopback(port);
  const bool connected = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  CloseSocket(probe);
  return connected;
}

}  // namespace

struct TlsRelay::State {
  SocketLibrary library;
  TempDir dir;
  int port = 0;
};

TlsRelay::TlsRelay(int target_port, TlsLeaf leaf) : state_(std::make_unique<State>()) {
  State& s = *state_;
  ca_file_ = s.dir.Sub("ca.pem");
  other_ca_file_ = s.dir.Sub("other-ca.pem");
  const std::string folder = WineUnixPath(s.dir.path());
  s.port = FreePort(s.library);
  if (folder.empty() || s.port == 0) return;

  // socat lives while the relay's folder does (the destructor removes it), and never
  // past ten minutes should the test program die before it can.
  const std::string script =
      "exec >/dev/null 2>&1; cd '" + folder + "' && " + TlsCertificateCommands() +
      " && { socat OPENSSL-LISTEN:" + std::to_string(s.port) +
      ",bind=127.0.0.1,reuseaddr,fork,cert=" + TlsLeafCertificate(leaf) +
      ",key=" + TlsLeafKey(leaf) + ",verify=0 TCP:127.0.0.1:" + std::to_string(target_port) +
      " & relay=$!; n=0; while [ -e ca.pem ] && [ $n -lt 3000 ]; do sleep 0.2; n=$((n+1)); "
      "done; kill $relay; }";
  if (!StartLinuxProgram("/bin/sh", "-c \"" + script + "\"")) return;

  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!Accepts(s.library, s.port)) {
    if (std::chrono::steady_clock::now() > give_up) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  port_ = s.port;
  ok_ = true;
}

TlsRelay::~TlsRelay() = default;

}  // namespace brisal::testing

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

namespace brisal::testing {

namespace {

// A path as Wine maps it to the Linux side and back; empty outside Wine.
std::string UnixPath(const std::string& path) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  const auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!to_unix) return {};
  char* unix_path = to_unix(Utf8ToWide(path).c_str());
  if (!unix_path) return {};
  std::string result = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

std::wstring DosPath(const char* unix_path) {
  using ToDos = wchar_t*(CDECL*)(const char*);
  const auto to_dos = reinterpret_cast<ToDos>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (!to_dos) return {};
  wchar_t* dos_path = to_dos(unix_path);
  if (!dos_path) return {};
  std::wstring result = dos_path;
  HeapFree(GetProcessHeap(), 0, dos_path);
  return result;
}

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
  const std::string folder = UnixPath(s.dir.path());
  const std::wstring shell = DosPath("/bin/sh");
  s.port = FreePort(s.library);
  if (folder.empty() || shell.empty() || s.port == 0) return;

  // socat lives while the relay's folder does (the destructor removes it), and never
  // past ten minutes should the test program die before it can.
  const std::string script =
      "exec >/dev/null 2>&1; cd '" + folder + "' && " + TlsCertificateCommands() +
      " && { socat OPENSSL-LISTEN:" + std::to_string(s.port) +
      ",bind=127.0.0.1,reuseaddr,fork,cert=" + TlsLeafCertificate(leaf) +
      ",key=" + TlsLeafKey(leaf) + ",verify=0 TCP:127.0.0.1:" + std::to_string(target_port) +
      " & relay=$!; n=0; while [ -e ca.pem ] && [ $n -lt 3000 ]; do sleep 0.2; n=$((n+1)); "
      "done; kill $relay; }";
  std::wstring command = L"/bin/sh -c \"" + Utf8ToWide(script) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(shell.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return;
  }
  // Wine gives no handle to a Unix program, but should it ever, none is kept.
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) CloseHandle(process.hProcess);

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

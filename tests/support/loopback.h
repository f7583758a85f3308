// Sockets on 127.0.0.1 for the test servers, alike on both platforms.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace brisal::testing {

#ifdef _WIN32
using Socket = SOCKET;
inline const Socket kNoSocket = INVALID_SOCKET;
inline constexpr int kShutdownBoth = SD_BOTH;
inline constexpr int kSendFlags = 0;
inline void CloseSocket(Socket socket) {
  closesocket(socket);
}

// Winsock is started for as long as one of these lives.
class SocketLibrary {
 public:
  SocketLibrary() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~SocketLibrary() {
    if (started_) WSACleanup();
  }
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;

 private:
  bool started_ = false;
};
#else
using Socket = int;
inline constexpr Socket kNoSocket = -1;
inline constexpr int kShutdownBoth = SHUT_RDWR;
// A client that hangs up must not kill the test program with SIGPIPE.
inline constexpr int kSendFlags = MSG_NOSIGNAL;
inline void CloseSocket(Socket socket) {
  close(socket);
}
struct SocketLibrary {};
#endif

sockaddr_in Loopback(int port);

// A socket listening on 127.0.0.1 at a port of the system's choice; kNoSocket (and a
// test failure) when there is none.
Socket ListenOnLoopback(int backlog, int& port);

}  // namespace brisal::testing

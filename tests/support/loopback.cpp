#include "tests/support/loopback.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace brisal::testing {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

Socket ListenOnLoopback(int backlog, int& port) {
  const Socket listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  if (listener == kNoSocket ||
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, backlog) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ADD_FAILURE() << "cannot listen on 127.0.0.1";
    if (listener != kNoSocket) CloseSocket(listener);
    return kNoSocket;
  }
  port = ntohs(address.sin_port);
  return listener;
}

}  // namespace brisal::testing

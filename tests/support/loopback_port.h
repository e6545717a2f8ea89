// A TCP port on 127.0.0.1 that nothing listens on just now, for a server a test or benchmark starts (a
// broker): the system picks it, so that parallel runs do not collide.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

inline int free_loopback_port() {
  const int socket_fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(socket_fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(socket_fd);
  return ntohs(address.sin_port);
}

}  // namespace testing_support

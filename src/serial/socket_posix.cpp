#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "serial/socket.h"

namespace downloader::net {

namespace {

int Fd(Socket socket) {
  return static_cast<int>(socket);
}

}  // namespace

Socket Connect(const std::string& host, uint16_t port, Deadline deadline, int& err) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* addresses = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses) != 0) {
    err = ENOENT;
    return kNoSocket;
  }
  err = ECONNREFUSED;
  int fd = -1;
  for (addrinfo* a = addresses; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      do {
        rc = ::poll(&p, 1, MsLeft(deadline));
      } while (rc < 0 && errno == EINTR);
      int soError = ETIMEDOUT;
      socklen_t len = sizeof soError;
      if (rc > 0) ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
      errno = soError;
      rc = soError == 0 ? 0 : -1;
    }
    if (rc != 0) {
      err = errno;
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(addresses);
  if (fd >= 0) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return fd;
}

void Close(Socket socket) {
  ::close(Fd(socket));
}

long Send(Socket socket, const uint8_t* bytes, std::size_t count) {
  for (;;) {
    const ssize_t n = ::send(Fd(socket), bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) return n;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return kFailed;
    return kWouldBlock;
  }
}

long Receive(Socket socket, uint8_t* buffer, std::size_t count) {
  const ssize_t n = ::recv(Fd(socket), buffer, count, MSG_DONTWAIT);
  if (n >= 0) return n;
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kWouldBlock : kFailed;
}

int Wait(Socket socket, bool forWrite, Deadline deadline) {
  pollfd p{Fd(socket), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
  int ready;
  do {
    ready = ::poll(&p, 1, MsLeft(deadline));
  } while (ready < 0 && errno == EINTR);
  return ready > 0 ? 1 : ready;
}

}  // namespace downloader::net

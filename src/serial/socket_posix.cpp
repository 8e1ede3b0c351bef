#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "serial/socket.h"

namespace downloader::net {

namespace {

int Fd(Socket socket) {
  return static_cast<int>(socket);
}

// The addresses of a name, kept by whichever of the lookup and its caller ends last.
struct Addresses {
  addrinfo* list = nullptr;
  int status = EAI_FAIL;
  ~Addresses() {
    if (list != nullptr) ::freeaddrinfo(list);
  }
};

// A numeric address at once; a name within the deadline: a name server that does not
// answer would otherwise hold the lookup for its own timeouts, many seconds. Nothing on
// failure, with `err` ENOENT (no such name) or ETIMEDOUT.
std::shared_ptr<Addresses> Resolve(const std::string& host, uint16_t port, Deadline deadline,
                                   int& err) {
  auto found = std::make_shared<Addresses>();
  const std::string service = std::to_string(port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found->list) == 0) return found;
  hints.ai_flags = AI_NUMERICSERV;
  const bool answered = RunBefore(deadline, [found, host, service, hints] {
    found->status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found->list);
  });
  if (!answered || found->status != 0) {
    err = answered ? ENOENT : ETIMEDOUT;
    return nullptr;
  }
  return found;
}

}  // namespace

Socket Connect(const std::string& host, uint16_t port, Deadline deadline, int& err) {
  const std::shared_ptr<Addresses> addresses = Resolve(host, port, deadline, err);
  if (!addresses) return kNoSocket;
  err = ECONNREFUSED;
  int fd = -1;
  for (addrinfo* a = addresses->list; a != nullptr && fd < 0; a = a->ai_next) {
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

Socket ListenLoopback(uint16_t port, uint16_t& bound, std::string& error) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::strerror(errno);
    return kNoSocket;
  }
  // A port left in TIME_WAIT by the last run may be listened on again at once.
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 8) != 0) {
    error = std::strerror(errno);
    ::close(fd);
    return kNoSocket;
  }
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  bound = ntohs(address.sin_port);
  return fd;
}

Socket Accept(Socket listener) {
  const int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return kNoSocket;
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
  return fd;
}

long ReceiveStamped(Socket socket, uint8_t* buffer, std::size_t count, Deadline& arrived) {
  iovec data{buffer, count};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t n = ::recvmsg(Fd(socket), &message, MSG_DONTWAIT);
  const auto now = std::chrono::steady_clock::now();
  arrived = now;
  if (n < 0)
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kWouldBlock : kFailed;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
    timespec stamp;
    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
    // The stamp is wall-clock time: its distance from the wall clock now, on the steady
    // clock. One that is not a short while ago (a clock set meanwhile) says nothing.
    timespec wall;
    ::clock_gettime(CLOCK_REALTIME, &wall);
    const auto ago = std::chrono::seconds(wall.tv_sec - stamp.tv_sec) +
                     std::chrono::nanoseconds(wall.tv_nsec - stamp.tv_nsec);
    if (ago > std::chrono::nanoseconds::zero() && ago < std::chrono::seconds(10)) {
      arrived = now - std::chrono::duration_cast<std::chrono::steady_clock::duration>(ago);
    }
  }
  return n;
}

bool ConnectedPair(Socket& first, Socket& second) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return false;
  first = fds[0];
  second = fds[1];
  return true;
}

int WaitAny(Waited* sockets, std::size_t count, Deadline deadline) {
  std::vector<pollfd> fds(count);
  for (std::size_t i = 0; i < count; ++i) {
    fds[i] = {Fd(sockets[i].socket),
              static_cast<short>(POLLIN | (sockets[i].forWrite ? POLLOUT : 0)), 0};
  }
  const auto left = std::max<std::chrono::steady_clock::duration>(
      deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero());
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::min<std::chrono::steady_clock::duration>(left, std::chrono::seconds(60)))
                      .count();
  const timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  const int ready = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
  for (std::size_t i = 0; i < count; ++i) {
    if (ready < 0) fds[i].revents = 0;
    sockets[i].readable = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    sockets[i].writable = (fds[i].revents & POLLOUT) != 0;
  }
  if (ready < 0) return errno == EINTR ? 0 : -1;
  return ready;
}

}  // namespace downloader::net

// Winsock 2 beneath the RFC 2217 client and the module emulator.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/wide_text.h"
#include "serial/socket.h"
#include "serial/socket_win32.h"

namespace downloader::net {

namespace {

SOCKET Native(Socket socket) {
  return static_cast<SOCKET>(socket);
}

// Winsock is started once per process, on first use, and left running until the end.
bool StartWinsock() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data;
    started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

// The errno value of a Winsock error, for OpenErrorCode.
int ErrnoOf(int wsaError) {
  switch (wsaError) {
    case WSAECONNREFUSED:
      return ECONNREFUSED;
    case WSAECONNRESET:
      return ECONNRESET;
    case WSAEHOSTUNREACH:
    case WSAEHOSTDOWN:
      return EHOSTUNREACH;
    case WSAENETUNREACH:
    case WSAENETDOWN:
      return ENETUNREACH;
    case WSAETIMEDOUT:
      return ETIMEDOUT;
    default:
      return EIO;
  }
}

// Waits for a connect in progress; 0 when it connected, else the errno value.
int FinishConnect(SOCKET s, Deadline deadline) {
  // select, not WSAPoll: WSAPoll does not report a refused connection on every Windows.
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  const int ms = MsLeft(deadline);
  timeval timeout{ms / 1000, (ms % 1000) * 1000};
  const int ready = ::select(0, nullptr, &writable, &failed, &timeout);
  if (ready == 0) return ETIMEDOUT;
  if (ready < 0) return ErrnoOf(::WSAGetLastError());
  int error = 0;
  int length = sizeof error;
  ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
  if (FD_ISSET(s, &failed) && error == 0) error = WSAECONNREFUSED;
  return error == 0 ? 0 : ErrnoOf(error);
}

// The addresses of a name, kept by whichever of the lookup and its caller ends last.
struct Addresses {
  ADDRINFOW* list = nullptr;
  int status = WSANO_RECOVERY;
  ~Addresses() {
    if (list != nullptr) ::FreeAddrInfoW(list);
  }
};

// A numeric address at once; a name within the deadline: a name server that does not
// answer would otherwise hold the lookup for its own timeouts, many seconds. Nothing on
// failure, with `err` ENOENT (no such name) or ETIMEDOUT.
std::shared_ptr<Addresses> Resolve(const std::string& host, uint16_t port, Deadline deadline,
                                   int& err) {
  auto found = std::make_shared<Addresses>();
  const std::wstring name = WideFromUtf8(host);
  const std::wstring service = std::to_wstring(port);
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
  if (::GetAddrInfoW(name.c_str(), service.c_str(), &hints, &found->list) == 0) return found;
  hints.ai_flags = AI_NUMERICSERV;
  const bool answered = RunBefore(deadline, [found, name, service, hints] {
    found->status = ::GetAddrInfoW(name.c_str(), service.c_str(), &hints, &found->list);
  });
  if (!answered || found->status != 0) {
    err = answered ? ENOENT : ETIMEDOUT;
    return nullptr;
  }
  return found;
}

}  // namespace

Socket Connect(const std::string& host, uint16_t port, Deadline deadline, int& err) {
  if (!StartWinsock()) {
    err = ENETUNREACH;
    return kNoSocket;
  }
  const std::shared_ptr<Addresses> addresses = Resolve(host, port, deadline, err);
  if (!addresses) return kNoSocket;
  err = ECONNREFUSED;
  SOCKET s = INVALID_SOCKET;
  for (ADDRINFOW* a = addresses->list; a != nullptr && s == INVALID_SOCKET; a = a->ai_next) {
    // Not inherited: a master program started later must not hold the connection.
    s = ::WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0,
                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
      err = ErrnoOf(::WSAGetLastError());
      continue;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    int result = 0;
    if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      const int error = ::WSAGetLastError();
      result = error == WSAEWOULDBLOCK ? FinishConnect(s, deadline) : ErrnoOf(error);
    }
    if (result != 0) {
      err = result;
      ::closesocket(s);
      s = INVALID_SOCKET;
    }
  }
  if (s == INVALID_SOCKET) return kNoSocket;
  const BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return static_cast<Socket>(s);
}

void Close(Socket socket) {
  ::closesocket(Native(socket));
}

long Send(Socket socket, const uint8_t* bytes, std::size_t count) {
  const int ask = count > 0x10000 ? 0x10000 : static_cast<int>(count);
  const int n = ::send(Native(socket), reinterpret_cast<const char*>(bytes), ask, 0);
  if (n > 0) return n;
  if (n == SOCKET_ERROR && ::WSAGetLastError() != WSAEWOULDBLOCK) return kFailed;
  return kWouldBlock;
}

long Receive(Socket socket, uint8_t* buffer, std::size_t count) {
  const int ask = count > 0x10000 ? 0x10000 : static_cast<int>(count);
  const int n = ::recv(Native(socket), reinterpret_cast<char*>(buffer), ask, 0);
  if (n >= 0) return n;
  return ::WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

long ReceiveStamped(Socket socket, uint8_t* buffer, std::size_t count, Deadline& arrived) {
  arrived = std::chrono::steady_clock::now();
  return Receive(socket, buffer, count);
}

int Wait(Socket socket, bool forWrite, Deadline deadline) {
  WSAPOLLFD p{};
  p.fd = Native(socket);
  p.events = forWrite ? POLLWRNORM : POLLRDNORM;
  const int ready = ::WSAPoll(&p, 1, MsLeft(deadline));
  return ready > 0 ? 1 : (ready == 0 ? 0 : -1);
}

namespace {

// The system's text for a Winsock error, without its line end.
std::string WinsockErrorText(int error) {
  return SystemErrorText(static_cast<unsigned long>(error));
}

SOCKET NewSocket() {
  // Not inherited: a program started later must not hold the port.
  const SOCKET s =
      ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s != INVALID_SOCKET) {
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
  }
  return s;
}

}  // namespace

Socket ListenLoopback(uint16_t port, uint16_t& bound, std::string& error) {
  if (!StartWinsock()) {
    error = "Winsock does not start";
    return kNoSocket;
  }
  const SOCKET s = NewSocket();
  if (s == INVALID_SOCKET) {
    error = WinsockErrorText(::WSAGetLastError());
    return kNoSocket;
  }
  // No other program may listen on the same port beside this one.
  const BOOL one = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(s, 8) != 0) {
    error = WinsockErrorText(::WSAGetLastError());
    ::closesocket(s);
    return kNoSocket;
  }
  int length = sizeof address;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  bound = ntohs(address.sin_port);
  return static_cast<Socket>(s);
}

Socket Accept(Socket listener) {
  const SOCKET s = ::accept(Native(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kNoSocket;
  // An accepted socket takes the listener's settings, but not being inherited is asked again.
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  const BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return static_cast<Socket>(s);
}

bool ConnectedPairThrough(Socket listener, uint16_t port, Socket& first, Socket& second) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  const SOCKET client = NewSocket();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  bool ok = client != INVALID_SOCKET;
  if (ok && ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ok = ::WSAGetLastError() == WSAEWOULDBLOCK && FinishConnect(client, deadline) == 0;
  }
  // Any program on this machine may connect to the listener, and before the client: the
  // connection taken is the one whose far end is the client's own address and port, which
  // no other connection to the listener can have while the client holds them.
  sockaddr_in own{};
  int ownLength = sizeof own;
  ok = ok && ::getsockname(client, reinterpret_cast<sockaddr*>(&own), &ownLength) == 0;
  Socket server = kNoSocket;
  while (ok && server == kNoSocket && Wait(listener, false, deadline) == 1) {
    const Socket candidate = Accept(listener);
    if (candidate == kNoSocket) continue;
    sockaddr_in peer{};
    int peerLength = sizeof peer;
    if (::getpeername(Native(candidate), reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0 &&
        peer.sin_addr.s_addr == own.sin_addr.s_addr && peer.sin_port == own.sin_port) {
      server = candidate;
    } else {
      Close(candidate);
    }
  }
  if (server == kNoSocket) {
    if (client != INVALID_SOCKET) ::closesocket(client);
    return false;
  }
  first = static_cast<Socket>(client);
  second = server;
  return true;
}

bool ConnectedPair(Socket& first, Socket& second) {
  uint16_t port = 0;
  std::string error;
  const Socket listener = ListenLoopback(0, port, error);
  if (listener == kNoSocket) return false;
  const bool ok = ConnectedPairThrough(listener, port, first, second);
  Close(listener);
  return ok;
}

int WaitAny(Waited* sockets, std::size_t count, Deadline deadline) {
  std::vector<WSAPOLLFD> fds(count);
  for (std::size_t i = 0; i < count; ++i) {
    fds[i].fd = Native(sockets[i].socket);
    fds[i].events = static_cast<SHORT>(POLLRDNORM | (sockets[i].forWrite ? POLLWRNORM : 0));
  }
  const int ready = ::WSAPoll(fds.data(), static_cast<ULONG>(count), MsLeft(deadline));
  for (std::size_t i = 0; i < count; ++i) {
    const SHORT got = ready > 0 ? fds[i].revents : 0;
    sockets[i].readable = (got & (POLLRDNORM | POLLHUP | POLLERR)) != 0;
    sockets[i].writable = (got & POLLWRNORM) != 0;
  }
  return ready;
}

}  // namespace downloader::net

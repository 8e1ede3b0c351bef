#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace downloader::net {

/// A TCP connection to a network serial port, behind the few calls the RFC 2217 client
/// needs; the POSIX socket calls or Winsock 2 beneath. Sockets are non-blocking: waiting
/// is done by Wait alone, with a timeout.
using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;
using Deadline = std::chrono::steady_clock::time_point;

/// Connects to `host`:`port` before `deadline`, with TCP_NODELAY. kNoSocket on failure,
/// with `err` an errno value for OpenErrorCode (ENOENT: the name does not resolve,
/// ECONNREFUSED, ETIMEDOUT, ...).
Socket Connect(const std::string& host, uint16_t port, Deadline deadline, int& err);

void Close(Socket socket);

/// What Send and Receive report besides a count of bytes.
inline constexpr long kWouldBlock = -1;  ///< nothing can move now: Wait, then try again
inline constexpr long kFailed = -2;      ///< the connection is broken

/// Sends what the socket takes now: the count (> 0), kWouldBlock or kFailed.
long Send(Socket socket, const uint8_t* bytes, std::size_t count);
/// Takes what has arrived: the count (> 0), 0 when the peer closed the connection,
/// kWouldBlock or kFailed.
long Receive(Socket socket, uint8_t* buffer, std::size_t count);

/// Waits until `deadline` for the socket to be readable (or writable, with `forWrite`):
/// 1 ready (an error or the end of the connection counts as ready: the next call reports
/// it), 0 timed out, -1 the wait failed. A deadline already past only looks.
int Wait(Socket socket, bool forWrite, Deadline deadline);

// The server's side, for the module emulator: it serves on this machine alone.

/// Listens on 127.0.0.1:`port` (0: a free port the system picks), not inherited by
/// programs started later; `bound` is the port listened on. kNoSocket on failure, with
/// `error` the system's text.
Socket ListenLoopback(uint16_t port, uint16_t& bound, std::string& error);
/// Takes one connection waiting on `listener`, non-blocking and with TCP_NODELAY;
/// kNoSocket when none waits. POSIX: its arrivals are time-stamped (ReceiveStamped).
Socket Accept(Socket listener);
/// Receive on an accepted connection, also telling when the bytes reached this machine:
/// POSIX: the system's receive time stamp of the last of them; Windows: the time of the
/// call. For a server that measures how long it takes to answer, including its own wait
/// to be scheduled.
long ReceiveStamped(Socket socket, uint8_t* buffer, std::size_t count, Deadline& arrived);
/// Two sockets connected to each other (POSIX: a socket pair; Windows: a loopback
/// connection), non-blocking: a byte sent on one makes the other readable, so a wait on
/// sockets can also wait for a word from another thread.
bool ConnectedPair(Socket& first, Socket& second);

/// One socket of a WaitAny: what is waited for, and whether it came.
struct Waited {
  Socket socket = kNoSocket;
  bool forWrite = false;  ///< also writable (readable is always waited for)
  bool readable = false;  ///< set by WaitAny; an error or the end of the connection counts
  bool writable = false;  ///< set by WaitAny
};
/// Waits until `deadline` for any of `count` sockets: the number ready, 0 timed out, -1 the
/// wait failed. POSIX waits to the nanosecond (the emulator paces bytes at a millisecond
/// each); Windows to the millisecond, rounded up.
int WaitAny(Waited* sockets, std::size_t count, Deadline deadline);

/// Runs `work` on a thread of its own and waits for it until `deadline`: whether it
/// finished in time. Work given up on runs on to its end unseen, so it must own (share)
/// everything it touches. For calls that take no timeout of their own (a name lookup).
bool RunBefore(Deadline deadline, std::function<void()> work);

/// Milliseconds from now to `deadline`, rounded up; 0 when it has passed, at most 60,000
/// (a longer wait is made of several).
int MsLeft(Deadline deadline);

}  // namespace downloader::net

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

/// Runs `work` on a thread of its own and waits for it until `deadline`: whether it
/// finished in time. Work given up on runs on to its end unseen, so it must own (share)
/// everything it touches. For calls that take no timeout of their own (a name lookup).
bool RunBefore(Deadline deadline, std::function<void()> work);

/// Milliseconds from now to `deadline`, rounded up; 0 when it has passed, at most 60,000
/// (a longer wait is made of several).
int MsLeft(Deadline deadline);

}  // namespace downloader::net

#pragma once

// What the Winsock backend offers beyond socket.h: the seam of ConnectedPair, for tests.

#include <cstdint>

#include "serial/socket.h"

namespace downloader::net {

/// ConnectedPair's work on a loopback listener the caller made and still owns (listening on
/// 127.0.0.1:`port`), to which another program may have connected already.
bool ConnectedPairThrough(Socket listener, uint16_t port, Socket& first, Socket& second);

}  // namespace downloader::net

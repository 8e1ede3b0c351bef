#pragma once

#include "host.h"
#include "options.h"

namespace downloader::station {

inline constexpr int kExitSucceeded = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

/// The station: checks the image with the loader's /GetInfo, starts one loader per port,
/// all at once, follows their status lines into the table (or plain lines), ends loaders
/// that die or fall silent, writes the report after every round, and with --repeat waits
/// for the operator between rounds. Returns the exit status: 0 when every port of every
/// round succeeded, 1 when any failed, 2 for a usage error or a refused image, 128 + N
/// when stopped by signal N.
int RunStation(const StationOptions& options, Host& host, Terminal& terminal);

}  // namespace downloader::station

#pragma once

#include <optional>

#include "run/standard_handles.h"

namespace downloader {

/// `downloader --probe COMn [TYPE]`, the presence check of a production line: finds out
/// what is attached to one port without downloading anything (ProbePort: the reset pulse
/// and the identification exchanges, TYPE 2..6 first), and writes one status line
/// "111-PORT=COMn DEVICE=... VERSION=... LOOPBACK=n/a ECHO=..." on the "INF:" channel, as
/// a scan does. The port is taken with its lock and found through the port map, as for a
/// download. Nothing when the arguments are no probe request; otherwise the exit code: 0,
/// or 2 with one line on standard error when the request is malformed.
std::optional<int> AnswerProbe(int argc, const char* const* argv,
                               const StandardDescriptors& standard);

}  // namespace downloader

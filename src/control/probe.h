#pragma once

#include <optional>

#include "run/standard_handles.h"

namespace downloader {

/// The presence checks of a production line, each answered with the scan's status line
/// "111-PORT=COMn DEVICE=... VERSION=... LOOPBACK=n/a ECHO=..." on the "INF:" channel:
///
///   downloader --probe COMn [TYPE]   one check
///   downloader --watch COMn [TYPE]   a check every 100 ms, one line each, until the
///                                    program is stopped or its output is closed
///
/// A check (ProbePort) finds out what is attached to the port without downloading
/// anything: the reset pulse and the identification exchanges, type TYPE (2..6) first, and
/// then, when watching, the type found last. The port is taken with its lock and found
/// through the port map, as for a download, and given back between the checks. Nothing when
/// the arguments are neither; otherwise the exit code: 0, or 2 with one line on standard
/// error when the request is malformed.
std::optional<int> AnswerProbe(int argc, const char* const* argv,
                               const StandardDescriptors& standard);

}  // namespace downloader

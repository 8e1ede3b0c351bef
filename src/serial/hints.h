#pragma once

#include <functional>
#include <string>

namespace downloader {

/// Where the serial link's hint lines go: one line that names the fix when a port cannot be
/// opened for lack of permission or because another process holds it. Standard error by
/// default (never the status channel); tests install a collector. Any thread.
using HintSink = std::function<void(const std::string& line)>;
void SetHintSink(HintSink sink);  ///< nullptr restores standard error
void WriteHint(const std::string& line);

}  // namespace downloader

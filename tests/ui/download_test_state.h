#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/fake_windows.h"

namespace downloader::testing {

/// Starts a test from the state of a fresh process: serial unit, command-line state,
/// device names, an empty image, new forms, this thread as the main thread, and a
/// FakeWindowSystem installed, which is returned (valid until the next reset).
FakeWindowSystem& ResetDownloaderState();

/// Sets RunFlags and the switches that give them (ReportError reads the switches).
void UseRunFlags(uint16_t runFlags);

/// Fills ImageBuffer: target type, names, and one slot per entry of `packetCounts`;
/// packet k of slot s holds bytes s, k, 0, 1, ..., 15.
void SetTestImage(uint8_t targetDevice, const std::vector<int>& packetCounts,
                  std::string_view product = "", std::string_view company = "");

/// The standard name of `type`, for images that carry no name of their own.
std::string StandardName(int type);

}  // namespace downloader::testing

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

/// The entry every target defines: libFuzzer calls it, and so does the replay driver.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace downloader::fuzz {

/// Ends the run as a crash when a property of the code under test does not hold.
inline void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace downloader::fuzz

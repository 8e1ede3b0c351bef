#pragma once

#include <string>
#include <string_view>

#include "run/report.h"

namespace downloader::testing {

/// Pipes and files as the loader's Handles (descriptors on POSIX, HANDLEs on Windows), for
/// tests that stand in for a master program or capture the status channel.

struct TestPipe {
  Handle read = kInvalidHandle;
  Handle write = kInvalidHandle;
};

/// A new pipe, neither end inherited by child processes; both ends invalid on failure.
TestPipe CreateTestPipe();

/// A new empty file `name` opened for writing; kInvalidHandle on failure.
Handle CreateTestFile(const std::string& name);

/// Writes all of `bytes`; false when a write failed.
bool WriteTestHandle(Handle handle, std::string_view bytes);

/// Closes `handle` (if valid) and sets it to kInvalidHandle.
void CloseTestHandle(Handle& handle);

}  // namespace downloader::testing

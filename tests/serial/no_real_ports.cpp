// No test of this binary may reach a real serial port (on the project's machines one is
// the kernel's console): from the start, the port map is an empty one, complete by
// definition. Tests that need ports set DOWNLOADER_PORTS to their own map and restore this.

#include <stdlib.h>

namespace {

const bool portsHidden = [] {
  ::setenv("DOWNLOADER_PORTS", "/nonexistent/downloader-test-ports", 1);
  return true;
}();

}  // namespace

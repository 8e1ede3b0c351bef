// One command line from a master program: the input is written into a pipe (a master's one
// write; at most 64 KiB), read back by ReadPipeArguments, then parsed as the pipe loop
// does, in pipe mode with the status channel on the pipe.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "control/command_line.h"
#include "control/pipe.h"
#include "fuzz_check.h"
#include "quiet_windows.h"
#include "run/exceptions.h"
#include "run/report.h"
#include "serial/globals.h"

using namespace downloader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::InstallQuietWindows();
  InitSerialUnit();
  int ends[2];
  if (::pipe(ends) != 0) return 0;
  size = std::min<std::size_t>(size, 65536);
  const bool written = ::write(ends[1], data, size) == static_cast<ssize_t>(size);
  ::close(ends[1]);
  fuzz::Check(written);
  ReadHandle = ends[0];

  const bool read = ReadPipeArguments();
  fuzz::Check(read == (size > 0));
  // One read takes at most 1,024 bytes and stops at a NUL; the arguments are what lies
  // between its spaces and TABs, nothing lost and nothing added.
  const auto* text = reinterpret_cast<const char*>(data);
  const std::size_t length = ::strnlen(text, std::min<std::size_t>(size, 1024));
  const std::size_t kept =
      length - static_cast<std::size_t>(std::count_if(
                   text, text + length, [](char c) { return c == ' ' || c == '\t'; }));
  std::size_t total = 0;
  for (const std::string& argument : ArgumentList) {
    fuzz::Check(!argument.empty() && argument.find_first_of(" \t") == std::string::npos);
    total += argument.size();
  }
  fuzz::Check(total == kept);

  // The status channel is the pipe to the master; parsing writes nothing to it.
  static const Handle statusPipe = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  PipeMode = true;
  WriteHandle = statusPipe;
  try {
    ParseArguments();
  } catch (const Exception&) {
    // Refusals are the command-line target's concern; here only that nothing breaks.
  }
  ::close(ends[0]);
  ReadHandle = kInvalidHandle;
  WriteHandle = kInvalidHandle;
  return 0;
}

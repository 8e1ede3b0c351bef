// ParseArguments on a command line taken from the input: the first byte says whether the
// status channel is redirected (bit 0) and whether pipe mode is on (bit 1); the rest are
// the arguments, separated by NUL bytes as in a program's argument vector. The driver's
// error text follows every refusal; ParseNumber also reads the whole input.
#include <algorithm>
#include <string>

#include "control/command_line.h"
#include "control/driver.h"
#include "fuzz_check.h"
#include "quiet_windows.h"
#include "run/helpers.h"
#include "run/report.h"
#include "serial/globals.h"

using namespace downloader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  fuzz::InstallQuietWindows();
  InitSerialUnit();
  WriteHandle = (data[0] & 1) != 0 ? 1 : kInvalidHandle;
  PipeMode = (data[0] & 2) != 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  ParseNumber(text);

  ArgumentList.clear();
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find('\0', start), text.size());
    ArgumentList.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  try {
    ParseArguments();
    fuzz::Check(RunFlags == FlagTable[SwitchBits & 0x7F]);
    if (SelectedPort != "AUTO") {
      const int32_t n = ParseNumber(SelectedPort);
      fuzz::Check(n >= 1 && n <= 99 && SelectedPort == "COM" + std::to_string(n));
      fuzz::Check(std::count(PortList.begin(), PortList.end(), SelectedPort) == 1);
    }
  } catch (const EHelp&) {
  } catch (const Exception& error) {
    // Every refusal is answered with a numbered final line.
    const std::string reply = CommandLineErrorText(error);
    fuzz::Check(FormatStatusLine(kChannelError, reply).ends_with("\r\n\x04"));
  }
  WriteHandle = kInvalidHandle;
  return 0;
}

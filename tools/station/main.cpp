// downloader-station: flashes one image into the modules on many ports at once.

#include <string>
#include <vector>

#include "double_click.h"
#include "host.h"
#include "options.h"
#include "station.h"

int main(int argc, char** argv) {
  using namespace downloader::station;
  const std::vector<std::string> args = StationArguments(argc, argv);
  if (downloader::tools::ExplainedToADoubleClick("downloader-station",
                                                 static_cast<int>(args.size()))) {
    return kExitUsage;
  }
  std::string error;
  const auto options = ParseStationOptions(args, error);
  auto terminal = MakeSystemTerminal();
  if (!options) {
    terminal->Err("downloader-station: " + error +
                  "\nTry 'downloader-station --help' for more information.\n");
    return kExitUsage;
  }
  auto host = MakeSystemHost();
  return RunStation(*options, *host, *terminal);
}

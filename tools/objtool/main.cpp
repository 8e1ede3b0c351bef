#include <iostream>

#include "double_click.h"
#include "objtool/objtool.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  // The arguments as UTF-8, whatever the platform handed over.
  std::vector<std::string> args = downloader::ProgramArguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  if (downloader::tools::ExplainedToADoubleClick("objtool", static_cast<int>(args.size()))) {
    return downloader::objtool::kExitUsage;
  }
  return downloader::objtool::RunObjtool(args, std::cout, std::cerr);
}

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "control/driver.h"
#include "control/stop_signals.h"
#include "platform/system.h"
#include "ui/window_module.h"

namespace downloader {

int LoaderMain(int argc, const char* const* argv) {
  EndOnStopSignals();
  const auto standard = SecureStandardDescriptors();
  try {
    // The window door, first: ReportError shows its dialogs through it from here on.
    SetWindowSystem(MakeDisplayWindowSystem());
    // The arguments as UTF-8, whatever the platform handed over.
    const std::vector<std::string> arguments = ProgramArguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);
    return RunDownloader(static_cast<int>(arguments.size()), pointers.data(), standard);
  } catch (const std::exception& error) {
    std::cerr << "downloader: internal error: " << error.what() << '\n';
  } catch (...) {
    std::cerr << "downloader: internal error\n";
  }
  return 70;
}

}  // namespace downloader

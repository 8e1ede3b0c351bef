#include <exception>
#include <iostream>

#include "control/driver.h"
#include "ui/window_module.h"

int main(int argc, char** argv) {
  const auto standard = downloader::SecureStandardDescriptors();
  try {
    downloader::SetWindowSystem(downloader::MakeDisplayWindowSystem());
    return downloader::RunDownloader(argc, argv, standard);
  } catch (const std::exception& error) {
    std::cerr << "downloader: internal error: " << error.what() << '\n';
  } catch (...) {
    std::cerr << "downloader: internal error\n";
  }
  return 70;
}

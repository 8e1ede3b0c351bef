// A desktop program's entry: linked for the GUI subsystem with the wide start-up, so a
// double-click opens no console. The arguments come from the wide command line.

#include "control/driver.h"

int wmain(int, wchar_t**) {
  return downloader::LoaderMain(0, nullptr);
}

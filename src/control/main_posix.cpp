#include "control/driver.h"

int main(int argc, char** argv) {
  return downloader::LoaderMain(argc, argv);
}

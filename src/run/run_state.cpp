#include "run/run_state.h"

namespace downloader {

uint8_t SwitchBits = 0;
uint16_t RunFlags = 0;
std::string ObjectFileName;
std::string ObjectFileTypedName;
std::string StartDirectory;

std::string ShownObjectFileName() {
  return ObjectFileTypedName.empty() ? ObjectFileName : ObjectFileTypedName;
}

}  // namespace downloader

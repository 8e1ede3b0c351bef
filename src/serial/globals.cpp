#include "serial/globals.h"

#include "serial/pool.h"

namespace downloader {

std::vector<std::string> PortList;
std::string SelectedPort;
bool CustomProduct = false;
bool PipeMode = false;
uint32_t BusyMask = 0;
std::array<char, kPipeBufferSize> PipeBuffer{};

void InitSerialUnit() {
  CustomProduct = false;
  PipeMode = false;
  PortList = {"COM1", "COM2", "COM3", "COM4"};
  SelectedPort.clear();
  BusyMask = 0;
  PipeBuffer.fill(0);
  ResetSerialPool();
}

}  // namespace downloader

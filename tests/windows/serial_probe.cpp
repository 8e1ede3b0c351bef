// Drives the local serial backend on the port map's COM1 step by step, one line a step,
// for the test that puts a pseudo-terminal behind that port under Wine:
//
//   open ERROR | second ERROR | configure OK | read0 COUNT MS | read200 COUNT MS | write OK |
//   read3 COUNT TEXT | short COUNT MS | (waits for a line on standard input) drain COUNT |
//   lines | done
//
// Without arguments it only says "ready" (the test's first call, which brings Wine up).

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "serial/serial_device.h"

using downloader::OpenSerialDevice;
using Clock = std::chrono::steady_clock;

namespace {

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

void Say(const std::string& line) {
  std::cout << line << std::endl;
}

}  // namespace

int main(int argc, char**) {
  if (argc < 2) {
    Say("ready");
    return 0;
  }
  auto opened = OpenSerialDevice("COM1");
  Say("open " + std::to_string(opened.error));
  if (!opened.device) return 1;
  downloader::SerialDevice& port = *opened.device;
  Say("second " + std::to_string(OpenSerialDevice("COM1").error));
  Say("configure " + std::to_string(port.Configure(downloader::LineSettings{})));

  uint8_t buffer[16];
  for (uint32_t timeout : {0u, 200u}) {
    const auto start = Clock::now();
    const int n = port.Read(buffer, 1, timeout);
    Say("read" + std::to_string(timeout) + " " + std::to_string(n) + " " +
        std::to_string(MsSince(start)));
  }
  Say("write " + std::to_string(port.Write(reinterpret_cast<const uint8_t*>("hello"), 5, 1000)));
  int n = port.Read(buffer, 3, 5000);
  Say("read3 " + std::to_string(n) + " " +
      std::string(reinterpret_cast<char*>(buffer), n > 0 ? n : 0));
  auto start = Clock::now();
  n = port.Read(buffer, 10, 300);
  Say("short " + std::to_string(n) + " " + std::to_string(MsSince(start)));
  std::string go;
  std::getline(std::cin, go);
  Say("drain " + std::to_string(port.Drain()));
  port.SetDTR(true);
  port.SetRTS(true);
  port.SetBreak(true);
  port.SetBreak(false);
  Say("lines " + std::to_string(port.ModemStatus()));
  Say("done");
  return 0;
}

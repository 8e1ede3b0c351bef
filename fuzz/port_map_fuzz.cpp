// The port map's reading of an entry file's head. Whatever it holds, a port it names is
// usable as named: a device path with no line break or surrounding blanks, or a network
// port with a host and a port number from 1.
#include <string_view>

#include "fuzz_check.h"
#include "serial/port_map.h"

using namespace downloader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view head(reinterpret_cast<const char*>(data), size);
  const PortTarget target = EntryTarget(head);
  switch (target.kind) {
    case PortTarget::Kind::kLocal: {
      const std::string& d = target.device;
      fuzz::Check(!d.empty() && d.find('\n') == std::string::npos);
      fuzz::Check(d.find_first_of(" \t") != 0 && d.find_last_of(" \t\r") != d.size() - 1);
      break;
    }
    case PortTarget::Kind::kNetwork:
      fuzz::Check(!target.host.empty() && target.port != 0 &&
                  target.host.find_first_of("/?") == std::string::npos);
      break;
    case PortTarget::Kind::kNone:
    case PortTarget::Kind::kHidden:
      fuzz::Check(target.device.empty());
      break;
  }
  return 0;
}
